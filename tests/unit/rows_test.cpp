// The export's rows. CSV: quoted where a field needs it, and guarded where a spreadsheet would
// run a cell as a formula. JSON Lines: rows copied straight into the output where every value
// is written as it stands must read exactly as the library writes the same object.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "office/output/rows.hpp"

namespace profiledesk::office {
namespace {

// One CSV row of the export's columns: `first` and then empty values.
std::string csvRow(std::initializer_list<std::string_view> first, bool forSpreadsheet) {
    std::array<std::string_view, kColumnCount> values{};
    std::copy(first.begin(), first.end(), values.begin());
    std::ostringstream written;
    OutputBuffer out(written);
    appendCsvRow(out, values, forSpreadsheet);
    out.flush();
    return written.str();
}

TEST(CsvRows, QuoteAFieldWithACommaAQuoteOrALineEndAndDoubleItsQuotes) {
    EXPECT_EQ(csvRow({"plain", "a,b", "say \"hi\"", "two\nlines", "cr\r", "", "=1+1", "tab\there"}, false),
              "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\"cr\r\",,=1+1,tab\there" +
                  std::string(kColumnCount - 8, ',') + "\r\n");
}

TEST(CsvRows, ForASpreadsheetACellThatWouldRunAsAFormulaStartsWithAnApostrophe) {
    EXPECT_EQ(csvRow({"=HYPERLINK(\"x\")", "+A1", "-2+3", "@SUM(A1)", "\tx", "\rx", "-", "a=b"}, true),
              "\"'=HYPERLINK(\"\"x\"\")\",'+A1,'-2+3,'@SUM(A1),'\tx,\"'\rx\",'-,a=b" +
                  std::string(kColumnCount - 8, ',') + "\r\n");
    // A number stays one, whatever its sign.
    EXPECT_EQ(csvRow({"-0.5", "+5", "1.52416e+12", "-7e-05", "-1E5", "35", "-1e", "-1.e5"}, true),
              "-0.5,+5,1.52416e+12,-7e-05,-1E5,35,'-1e,'-1.e5" + std::string(kColumnCount - 8, ',') + "\r\n");
}

TEST(JsonRows, ReadExactlyAsTheLibraryWritesTheSameObject) {
    // Figures written as their digits and ".0", and ones the library must write itself: an
    // exponent, a fraction, 16 or 17 digits, a leading zero or plus sign, no number at all.
    const std::vector<std::string> figures{"0",
                                           "-0",
                                           "5",
                                           "-5",
                                           "25",
                                           "999999999999999",
                                           "-100000000000000",
                                           "1000000000000000",
                                           "9999999999999999",
                                           "12345678901234567",
                                           "007",
                                           "+5",
                                           "2.5",
                                           "-0.5",
                                           "1.52416e+12",
                                           "1e+15",
                                           "inf",
                                           "-inf",
                                           "nan",
                                           "-",
                                           ""};
    const std::vector<std::string> answers{"Ama",       "Harbour-Street", "",     "say \"hi\"", "back\\slash",
                                           "tab\there", "caf\xC3\xA9",    "\x7F", "\x01"};
    std::mt19937 random(7);  // NOLINT(cert-msc32-c,cert-msc51-cpp): a fixed seed, to run a round again
    const auto pick = [&random](const std::vector<std::string>& pool) -> const std::string& {
        return pool.at(std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(random));
    };
    std::ostringstream written;
    std::string expected;
    {
        OutputBuffer out(written);
        JsonRowWriter writer;
        for (std::size_t n = 1; n <= 3000; ++n) {
            // Half the rows plain throughout but for the first ten figures, so that both ways are
            // taken often, and the figures either side of what the digits can hold meet both.
            const bool plain = n % 2 == 0;
            Row row;
            nlohmann::ordered_json object;
            const std::size_t line = 30 * n - 29;
            for (std::size_t i = 0; i < kColumnCount; ++i) {
                const Column& column = kColumns.at(i);
                switch (column.kind) {
                    case ColumnKind::whole:
                        row.values.at(i) = "ignored";  // the numbers given to append() are written
                        object[std::string(column.name)] = column.source == ColumnSource::record ? n : line;
                        break;
                    case ColumnKind::figure: {
                        const std::string& figure = plain ? figures.at(n % 10) : pick(figures);
                        row.values.at(i) = figure;
                        const double value =
                            figure.empty() || figure == "-" ? 0.0 : std::strtod(figure.c_str(), nullptr);
                        object[std::string(column.name)] = value;
                        break;
                    }
                    case ColumnKind::text: {
                        const std::string& answer = plain ? answers.at(n % 2) : pick(answers);
                        row.values.at(i) = answer;
                        object[std::string(column.name)] = answer;
                        break;
                    }
                }
            }
            writer.append(out, row, n, line);
            expected += object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
        }
        out.flush();
    }
    std::istringstream got(written.str());
    std::istringstream want(expected);
    std::string gotLine;
    std::string wantLine;
    for (std::size_t n = 1; std::getline(want, wantLine); ++n) {
        ASSERT_TRUE(std::getline(got, gotLine)) << "row " << n;
        ASSERT_EQ(gotLine, wantLine) << "row " << n;
    }
    EXPECT_FALSE(std::getline(got, gotLine));
}

// A row larger than the whole buffer goes out on its own, in order between the rows around
// it, in both formats and both of JSON's ways, with its key and state.
TEST(Rows, ARowLargerThanTheBufferIsWrittenWholeInItsPlace) {
    const std::string huge(kOutputBufferSize + 10, 'a');
    const std::string quoted = huge + "\"";  // not plain: written by the library
    // Built by append: g++ 12 at -O3 warns of an overlap in "k" + a temporary string.
    const auto keyFor = [](std::size_t size) { return std::string("k").append(std::to_string(size)); };
    std::ostringstream written;
    {
        OutputBuffer out(written);
        JsonRowWriter writer(true);
        for (const std::string* answer : {static_cast<const std::string*>(nullptr), &huge, &quoted}) {
            Row row;
            for (std::size_t i = 0; i < kColumnCount; ++i) {
                row.values.at(i) = kColumns.at(i).kind == ColumnKind::figure ? "5" : "x";
            }
            row.values.at(kFirstAnswer) = answer ? std::string_view(*answer) : "Ama";
            const std::string key = keyFor(row.values.at(kFirstAnswer).size());
            row.key = key;  // a view: the row holds none of its texts
            row.state = "new";
            writer.append(out, row, 1, 1);
            appendCsvRow(out, row.values);
        }
        out.flush();
    }
    std::istringstream lines(written.str());
    std::string line;
    for (const std::string& first : {std::string("Ama"), huge, quoted}) {
        ASSERT_TRUE(std::getline(lines, line));
        const auto object = nlohmann::json::parse(line);
        EXPECT_EQ(object.at("first_name"), first);
        EXPECT_EQ(object.at("record_key"), keyFor(first.size()));
        EXPECT_EQ(object.at("state"), "new");
        ASSERT_TRUE(std::getline(lines, line));
        // The answer quoted where it holds a quote, which is doubled; then 14 answers and 2 figures.
        std::string expected = "x,x,x,x,";
        if (first == quoted) {
            expected.append("\"").append(huge).append(R"(""")");
        } else {
            expected.append(first);
        }
        for (int i = 0; i < 14; ++i) {
            expected += ",x";
        }
        EXPECT_EQ(line, expected + ",5,5\r");
    }
    EXPECT_FALSE(std::getline(lines, line));
}

// A database's NULL reads as a view without a pointer: written as nothing, in every format.
TEST(Rows, AValueWithoutAPointerIsWrittenAsEmpty) {
    EXPECT_EQ(csvRow({"a", std::string_view(), "b"}, true),
              "a,,b" + std::string(kColumnCount - 3, ',') + "\r\n");
    std::ostringstream written;
    OutputBuffer out(written);
    out.append("x");
    out.append(std::string_view());
    out.flush();
    EXPECT_EQ(written.str(), "x");
}

// One row through the JSON Lines writer, its text answers `answer` and its figures `figure`,
// read back by the library: invalid JSON throws.
nlohmann::json jsonRow(std::string_view answer, std::string_view figure) {
    Row row;
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        row.values.at(i) = kColumns.at(i).kind == ColumnKind::figure ? figure : answer;
    }
    std::ostringstream written;
    OutputBuffer out(written);
    JsonRowWriter writer;
    writer.append(out, row, 1, 1);
    out.flush();
    return nlohmann::json::parse(written.str());
}

TEST(JsonRows, EveryControlIsEscapedAndAFigureWithALeadingZeroIsANumber) {
    const std::string_view text = kColumns.at(kFirstAnswer).name;
    const auto* const figure = std::find_if(kColumns.begin(), kColumns.end(), [](const Column& column) {
        return column.kind == ColumnKind::figure;
    });
    ASSERT_NE(figure, kColumns.end());
    // 0x1F, the highest control, with nothing else to escape in the row.
    EXPECT_EQ(jsonRow("a\x1F", "5").at(text), "a\x1F");
    // 0x80, the lowest byte past ASCII, alone: not UTF-8, so U+FFFD.
    EXPECT_EQ(jsonRow("a\x80", "5").at(text), "a\xEF\xBF\xBD");
    for (const auto& [stored, value] : {std::pair{"05", 5.0}, {"035", 35.0}, {"-035", -35.0}}) {
        EXPECT_EQ(jsonRow("a", stored).at(figure->name), value) << stored;
    }
}

}  // namespace
}  // namespace profiledesk::office
