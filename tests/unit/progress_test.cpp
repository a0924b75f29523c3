// The records tool's progress line: silent for the first second, then bytes read of the total
// and records a second on one line rewritten in place, at most four times a second; cleared
// when the work ends, and never shown where standard error is not a terminal.

#include <gtest/gtest.h>

#include <sstream>

#include "office/output/progress.hpp"

namespace profiledesk::office {
namespace {

using namespace std::chrono_literals;

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    Progress::Clock reader() {
        return [this] { return now; };
    }
};

constexpr std::uint64_t kMiB = std::uint64_t{1024} * 1024;

TEST(Progress, QuietForASecondThenOneLineRewrittenInPlaceAndClearedAtTheEnd) {
    FakeClock clock;
    std::ostringstream err;
    {
        Progress progress(err, true, 100 * kMiB, clock.reader());
        clock.now += 900ms;
        progress.addRecords(400);
        progress.addBytes(10 * kMiB);
        EXPECT_EQ(err.str(), "") << "shown before a second had passed";

        clock.now += 100ms;
        progress.addRecords(100);
        progress.addBytes(15 * kMiB);
        EXPECT_EQ(err.str(), "\rread 25.0 of 100.0 MiB (25%), 500 records/s ");

        clock.now += 100ms;  // too soon to show again
        progress.addBytes(5 * kMiB);
        EXPECT_EQ(err.str(), "\rread 25.0 of 100.0 MiB (25%), 500 records/s ");

        clock.now += 150ms;
        progress.addRecords(125);
        progress.addBytes(20 * kMiB);
        EXPECT_EQ(err.str(),
                  "\rread 25.0 of 100.0 MiB (25%), 500 records/s "
                  "\rread 50.0 of 100.0 MiB (50%), 500 records/s ");
        err.str("");
    }
    EXPECT_EQ(err.str(), "\r" + std::string(72, ' ') + "\r") << "the line was not cleared at the end";
}

TEST(Progress, ShowsNothingWhereNotEnabledAndClearsNothingItDidNotShow) {
    FakeClock clock;
    std::ostringstream err;
    {
        Progress progress(err, false, kMiB, clock.reader());
        clock.now += 5s;
        progress.addBytes(kMiB);
        progress.finish();
    }
    EXPECT_EQ(err.str(), "");
    {
        Progress quick(err, true, kMiB, clock.reader());
        quick.addBytes(kMiB);  // all done within the first second
    }
    EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace profiledesk::office
