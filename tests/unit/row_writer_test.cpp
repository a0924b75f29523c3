// One writer per format, named on the command line in any case.

#include <gtest/gtest.h>

#include <sstream>

#include "office/output/row_writer.hpp"

namespace profiledesk::office {
namespace {

TEST(RowWriter, FormatsAreNamedInAnyCaseAndNothingElseNamesOne) {
    EXPECT_EQ(formatNamed("CSV"), Format::csv);
    EXPECT_EQ(formatNamed("JsonL"), Format::jsonl);
    EXPECT_EQ(formatNamed("text"), Format::text);
    EXPECT_EQ(formatNamed(""), std::nullopt);
    EXPECT_EQ(formatNamed("csvx"), std::nullopt);
    EXPECT_EQ(formatNamed("cs"), std::nullopt);
    EXPECT_EQ(formatNames(), "csv, jsonl or text");
}

TEST(RowWriter, TheClerksTextShowsTheDeskTheTimeAndEachAnswerWithControlsVisible) {
    Row row;
    row.values.at(0) = "north";
    row.values.at(3) = "2026-12-06T15:53";
    row.values.at(4) = "Ada";
    row.values.at(5) = "Love\x1b[2Jlace";
    std::ostringstream sink;
    {
        OutputBuffer out(sink);
        const auto writer = makeRowWriter(Format::text, out);
        writer->begin();
        writer->write(row, 1, 1);
        writer->write(row, 2, 31);
        out.flush();
    }
    const std::string profile =
        "north, 2026-12-06 15:53\n"
        "  first_name            Ada\n"
        "  surname               Love^[[2Jlace\n";
    const std::string text = sink.str();
    EXPECT_TRUE(text.starts_with(profile)) << text;
    EXPECT_NE(text.find("\n  nearest_school        \n  years_ahead           \n"), std::string::npos) << text;
    // A blank line parts the second profile from the first.
    EXPECT_NE(text.find("age_after_years       \n\n" + profile), std::string::npos) << text;
}

}  // namespace
}  // namespace profiledesk::office
