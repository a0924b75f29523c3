// Line ends as the Windows listing reads them back, whatever the read sizes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/line_ends.hpp"

namespace profiledesk {
namespace {

// Reads `stored` back as the Windows listing does, `chunk` bytes at a time, reading again
// whatever a call leaves unconsumed.
std::string readBack(const std::string& stored, std::size_t chunk) {
    std::string shown;
    std::size_t at = 0;
    while (at < stored.size()) {
        std::string buffer = stored.substr(at, chunk);
        const LineEndsRead got = crlfToLf(buffer.data(), buffer.size(), at + buffer.size() == stored.size());
        shown.append(buffer, 0, got.kept);
        at += got.consumed;
    }
    return shown;
}

struct StoredAndShown {
    std::string stored;
    std::string shown;
};

TEST(LineEnds, CrlfBecomesLfAtEveryReadBoundaryAndOtherCrsStay) {
    const std::vector<StoredAndShown> cases = {
        {"one\r\ntwo\r\n", "one\ntwo\n"},
        {"lone\rcr\r\n", "lone\rcr\n"},                  // a CR in the middle of a line
        {"a\r\r\nb\r\n", "a\r\nb\n"},                    // CR CR LF: the first CR is text
        {"last\r\nends in cr\r", "last\nends in cr\r"},  // a final CR at the end of the file
        {"\r", "\r"},
        {"\n\r\n\r", "\n\n\r"},
    };
    for (const auto& [stored, shown] : cases) {
        // Every read size the listing can hold a CR back in, so that each CR falls at the end
        // of some read and its LF at the start of the next.
        for (std::size_t chunk = 2; chunk <= stored.size() + 1; ++chunk) {
            EXPECT_EQ(readBack(stored, chunk), shown) << "read " << chunk << " bytes at a time";
        }
    }
}

TEST(LineEnds, AFinalCrIsHeldBackOnlyBeforeMoreInput) {
    std::string buffer = "ab\r";
    LineEndsRead got = crlfToLf(buffer.data(), buffer.size(), false);
    EXPECT_EQ(got.kept, 2U);
    EXPECT_EQ(got.consumed, 2U);
    got = crlfToLf(buffer.data(), buffer.size(), true);
    EXPECT_EQ(got.kept, 3U);
    EXPECT_EQ(got.consumed, 3U);
}

}  // namespace
}  // namespace profiledesk
