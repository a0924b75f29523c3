// Collating into a database that fails part-way: the run ends at the failure, tells it once,
// keeps nothing, and tells none of the problems the rest of the file holds.

#include <gtest/gtest.h>

#include <sstream>

#include "office/collate/schema.hpp"
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

TEST(Columns, EachDatabaseNamesTheKindsOfTheOneTableItsOwnWay) {
    const std::string definitions = columnDefinitions({"T", "W", "F", "K"});
    EXPECT_TRUE(
        definitions.starts_with("(source T, record W, line W, entered_at T, first_name T, surname T, "))
        << definitions;
    EXPECT_TRUE(definitions.ends_with(", nearest_school T, years_ahead F, age_after_years F, record_key K)"))
        << definitions;
    const std::string list = columnList();
    EXPECT_TRUE(list.starts_with("source, record, line, entered_at, first_name, ")) << list;
    EXPECT_TRUE(list.ends_with(", years_ahead, age_after_years, record_key")) << list;
}

TEST(Columns, ARowHoldsTheFileTheRecordItsLineItsTimeAndTheAnswersInColumnOrder) {
    CandidateRecord candidate;
    candidate.firstName = "Ada";
    candidate.zonalLibrary = "West-Library";
    candidate.shoppingCentre = "Accra-Mall";
    candidate.yearsAhead = -2.5;
    const std::string file = "stray\n" + formatRecord(candidate, testing::sixthOfDecember(), kMakerDetails);
    struct Rows final : ScanListener {
        bool onRecord(const StoredRecord& record) override {
            fillRow("a.dat", record, row);
            number = wholeValue(kColumns.at(1), record);
            line = wholeValue(kColumns.at(2), record);
            return true;
        }
        void onProblem(const ScanProblem& /*problem*/) override {}
        Row row;
        std::size_t number = 0;
        std::size_t line = 0;
    } rows;
    RecordScanner scanner(rows);
    scanner.feed(file);
    scanner.finish();
    const auto value = [&rows](std::string_view name) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            if (kColumns.at(i).name == name) {
                return std::string(rows.row.values.at(i));
            }
        }
        return std::string("no such column");
    };
    EXPECT_EQ(value("source"), "a.dat");
    EXPECT_EQ(value("record"), "1");
    EXPECT_EQ(value("line"), "2");
    EXPECT_EQ(rows.number, 1U);
    EXPECT_EQ(rows.line, 2U);
    EXPECT_EQ(value("entered_at"), "2026-12-06T15:53");
    EXPECT_EQ(value("first_name"), "Ada");
    EXPECT_EQ(value("zonal_library"), "West-Library");
    EXPECT_EQ(value("shopping_centre"), "Accra-Mall");
    EXPECT_EQ(value("years_ahead"), "-2.5");
    EXPECT_EQ(value("surname"), "");
}

}  // namespace
}  // namespace profiledesk::office
