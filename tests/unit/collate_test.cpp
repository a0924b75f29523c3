// Collating into a target: a database that fails part-way ends the run, tells it once, keeps
// nothing, and tells none of the problems the rest of the file holds; checkpoints by desk name.

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <utility>

#include "office/collate/target.hpp"
#include "office/db/schema.hpp"
#include "office/desks/desk_file.hpp"
#include "record/record_format.hpp"
#include "test_support.hpp"

namespace profiledesk::office {
namespace {

// Takes rows until the one it is told to fail at, and hands out the checkpoints it is given.
class FailingTarget final : public CollateTarget {
public:
    explicit FailingTarget(std::size_t failAt) : failAt_(failAt) {}

    Status start(const std::vector<std::string>& names, std::vector<DeskState>& found) override {
        found.clear();
        for (const std::string& name : names) {
            DeskState state;
            if (name == kept.first) {
                state.checkpoint = kept.second;
                state.known = true;
            }
            found.push_back(state);
        }
        return Status::ok();
    }
    Status add(const Row& row, std::string_view /*content*/, std::uint32_t /*file*/) override {
        sources.emplace_back(row.values.at(0));
        return sources.size() == failAt_ ? Status::failure("office.db: the disk is full") : Status::ok();
    }
    void endFile(FileRun file) override { files.push_back(std::move(file)); }
    Status commit(CollateCounts& counts, const ReadAgain& /*readAgain*/) override {
        for (const FileRun& file : files) {
            counts.skipped += file.from ? file.from->records : 0;
        }
        committed = true;
        return Status::ok();
    }

    std::pair<std::string, Checkpoint> kept;  // a desk's name and its checkpoint
    std::vector<std::string> sources;
    std::vector<FileRun> files;
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
    Streams console{out, err};
    EXPECT_EQ(collateInto(target, {DeskInput{first, first, ""}, DeskInput{second, second, ""}}, console), 1);
    EXPECT_EQ(err.str(), first +
                             ":1: 1 line that belongs to no record\n"
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
    Streams console{out, err};
    EXPECT_EQ(collateInto(target, {DeskInput{first, first, ""}}, console), 1);
    EXPECT_EQ(err.str(), first + ":31: 1 line that belongs to no record\n");
    EXPECT_EQ(out.str(), "0 added, 0 already present, 1 problems\n");
    EXPECT_EQ(target.sources.size(), 2U);
    EXPECT_TRUE(target.committed);
}

// A checkpoint is a desk's: found by its name whatever the path, and of no use to a name that
// several files of the run share (the files of a desk's pattern).
TEST(Collate, ReadsAfterTheCheckpointOfTheDesksNameAndNotWhereSeveralFilesShareIt) {
    testing::ScratchFolder folder;
    const std::string record = formatRecord(CandidateRecord{}, testing::sixthOfDecember(), kMakerDetails);
    const std::string path = folder.file("datas.dat");
    testing::writeFile(path, record + record);
    const Checkpoint first{record.size(), 1, 30, record.size(), contentHash(record)};
    const auto collate = [&](const std::vector<DeskInput>& desks, bool full) {
        FailingTarget target(0);
        target.kept = {"north", first};
        std::ostringstream out;
        std::ostringstream err;
        Streams console{out, err};
        EXPECT_EQ(collateInto(target, desks, console, full), 0);
        EXPECT_EQ(err.str(), "");
        return std::make_pair(std::move(target.files), out.str());
    };

    const auto [resumed, resumedSummary] = collate({DeskInput{"north", path, ""}}, false);
    ASSERT_EQ(resumed.size(), 1U);
    EXPECT_EQ(resumed[0].source, "north");
    EXPECT_FALSE(resumed[0].fromStart);
    ASSERT_TRUE(resumed[0].reached.has_value());
    EXPECT_EQ(resumed[0].reached->offset, 2 * record.size());
    EXPECT_EQ(resumed[0].reached->records, 2U);
    EXPECT_EQ(resumed[0].reached->lines, 60U);
    EXPECT_EQ(resumedSummary, "0 added, 1 already present, 0 problems\n");

    const auto [renamed, renamedSummary] = collate({DeskInput{"east", path, ""}}, false);
    ASSERT_EQ(renamed.size(), 1U);
    EXPECT_TRUE(renamed[0].fromStart);
    ASSERT_TRUE(renamed[0].reached.has_value());
    EXPECT_EQ(renamed[0].reached->records, 2U);

    const auto [full, fullSummary] = collate({DeskInput{"north", path, ""}}, true);
    ASSERT_EQ(full.size(), 1U);
    EXPECT_TRUE(full[0].fromStart);
    EXPECT_EQ(fullSummary, "0 added, 0 already present, 0 problems\n");

    const auto [shared, sharedSummary] =
        collate({DeskInput{"north", path, ""}, DeskInput{"north", path, ""}}, false);
    ASSERT_EQ(shared.size(), 2U);
    for (const FileRun& run : shared) {
        EXPECT_TRUE(run.fromStart);
        EXPECT_FALSE(run.reached.has_value());
    }
}

}  // namespace
}  // namespace profiledesk::office
