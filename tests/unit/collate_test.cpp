// Collating into a database that fails part-way: the run ends at the failure, tells it once,
// keeps nothing, and tells none of the problems the rest of the file holds.

#include <gtest/gtest.h>

#include <sstream>

#include "office/collate/target.hpp"
#include "record/record_format.hpp"
#include "test_support.hpp"

namespace profiledesk::office {
namespace {

// Takes rows until the one it is told to fail at.
class FailingTarget final : public CollateTarget {
public:
    explicit FailingTarget(std::size_t failAt) : failAt_(failAt) {}

    Status add(const Row& row, std::string_view /*key*/) override {
        sources.emplace_back(row.values.at(0));
        return sources.size() == failAt_ ? Status::failure("office.db: the disk is full") : Status::ok();
    }
    Status commit(CollateCounts& /*counts*/) override {
        committed = true;
        return Status::ok();
    }

    std::vector<std::string> sources;
    bool committed = false;

private:
    std::size_t failAt_;
};

TEST(Collate, ADatabaseThatFailsPartWayEndsTheRunWithoutTellingTheRestOfTheFile) {
    testing::ScratchFolder folder;
    const std::string record = formatRecord(CandidateRecord{}, testing::sixthOfDecember(), kMakerDetails);
    const std::string first = folder.file("first.dat");
    const std::string second = folder.file("second.dat");
    testing::writeFile(first, "stray\n" + record + record + "stray\n" + record + record.substr(0, 100));
    testing::writeFile(second, "stray\n" + record);

    FailingTarget target(2);
    std::ostringstream out;
    std::ostringstream err;
    Console console{out, err};
    EXPECT_EQ(collateInto(target, {first, second}, console), 1);
    EXPECT_EQ(err.str(), first + ":1: 1 line that belongs to no record\n"
                                 "profiledesk-records: office.db: the disk is full\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(target.sources, (std::vector<std::string>{first, first}));
    EXPECT_FALSE(target.committed);
}

TEST(Collate, ATargetThatTakesEveryRowHearsAllTheFilesAndIsCommitted) {
    testing::ScratchFolder folder;
    const std::string record = formatRecord(CandidateRecord{}, testing::sixthOfDecember(), kMakerDetails);
    const std::string first = folder.file("first.dat");
    testing::writeFile(first, record + "stray\n" + record);

    FailingTarget target(0);
    std::ostringstream out;
    std::ostringstream err;
    Console console{out, err};
    EXPECT_EQ(collateInto(target, {first}, console), 1);
    EXPECT_EQ(err.str(), first + ":31: 1 line that belongs to no record\n");
    EXPECT_EQ(out.str(), "0 added, 0 already present, 1 problems\n");
    EXPECT_EQ(target.sources.size(), 2U);
    EXPECT_TRUE(target.committed);
}

}  // namespace
}  // namespace profiledesk::office
