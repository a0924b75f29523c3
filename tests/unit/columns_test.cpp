// The one table of columns: how each database names their kinds, and a row filled from a
// record read back, in column order.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "office/columns.hpp"
#include "record/record_format.hpp"
#include "test_support.hpp"

namespace profiledesk::office {
namespace {

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
