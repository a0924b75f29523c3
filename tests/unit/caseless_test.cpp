// find's search against the full folding of every answer: records made of text that folds in
// surprising ways (ß, İ, ı, final sigma, ligatures, the Kelvin sign, fullwidth letters,
// combining marks, characters folding drops), each answer looked for as find looks.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/utf8.hpp"
#include "office/fold/caseless.hpp"
#include "office/fold/fold.hpp"
#include "record/record_format.hpp"
#include "record/record_scanner.hpp"

namespace profiledesk::office {
namespace {

// Pieces an answer is made of, a few at a time; then texts a clerk might type, ASCII or not,
// and texts that fold to something else; and ASCII signs a bit from others ('[' and '{').
constexpr std::string_view kPieces =
    "Kowalczyk KOWAL czyk k \u212A owal Stra\u00DFe STRASSE ss \u1E9E \u017F \uFB01 sh FI \u0130stanbul "
    "ISTANBUL \u0131 Y\u0131lmaz \u03A3\u039F\u03A6\u039F\u03A3 \u03C3\u03BF\u03C6\u03BF\u03C2 "
    "\uFF2B\uFF4F\uFF37 \u00D6zt\u00FCrk O\u0308 u\u0308 \u0308 \u0301 \u0323 rk \u00AD \u200B z t \xFF \xC3 "
    "[k] {k} @ ` _ ^ \u041F\u0415\u0422\u0420\u041E\u0412 \u043F\u0435\u0442\u0440";
constexpr std::string_view kTexts =
    "kowalczyk KOWALCZYK k \u212A strasse STRA\u00DFE ss \u00DF fish \uFB01sh istanbul \u0130STANBUL "
    "\u0131 y\u0131lmaz yilmaz \u03C3\u03BF\u03C6\u03BF\u03C3 \u03C2 \u00F6zt\u00FCrk o\u0308zt \u00FC ozt "
    "kow s i \uFF4B {k} ` _ \u043F\u0435\u0442\u0440\u043E\u0432 \u0440";  // U+0440 ends in 0x80

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> found;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        found.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return found;
}

// A record whose answers are each one to four pieces (ASCII ones only, if asked), the same on
// every run.
std::string trickyRecord(std::minstd_rand& random, bool asciiOnly) {
    static const std::vector<std::string_view> pieces = words(kPieces);
    const auto answer = [&] {
        std::string text;
        for (std::size_t count = 1 + random() % 4; count > 0;) {
            const std::string_view piece = pieces.at(random() % pieces.size());
            if (!asciiOnly || isAscii(piece)) {
                text += piece;
                --count;
            }
        }
        return text;
    };
    CandidateRecord candidate;
    for (std::string* text :
         {&candidate.firstName, &candidate.surname, &candidate.placeOfBirth, &candidate.dateOfBirth,
          &candidate.ageText, &candidate.educationCentre, &candidate.streetName, &candidate.coordinatorName,
          &candidate.nearbyBusiness, &candidate.productivityCompany, &candidate.maintenanceCompany,
          &candidate.zonalLibrary, &candidate.libraryFee, &candidate.shoppingCentre,
          &candidate.nearestSchool}) {
        *text = answer();
    }
    return formatRecord(
        candidate,
        ClockSnapshot{.dayOfMonth = 6, .month = 11, .year = 2026, .timeText = "The Time Now Is :: 03:53PM."},
        kMakerDetails);
}

struct Answers final : ScanListener {
    bool onRecord(const StoredRecord& record) override {
        for (std::size_t field = 0; field < kFieldCount; ++field) {
            if (kindOf(static_cast<Field>(field)) == FieldKind::word) {
                answers.emplace_back(record.field(static_cast<Field>(field)), record.ascii);
            }
        }
        return true;
    }
    void onProblem(const ScanProblem& problem) override { ADD_FAILURE() << problem.what; }
    std::vector<std::pair<std::string, bool>> answers;  // and whether its record was ASCII
};

TEST(CaselessSearch, FindsWhatTheFullFoldingFindsInEveryAnswer) {
    std::minstd_rand random(2026);  // NOLINT(cert-msc32-c,cert-msc51-cpp): the same records on every run
    Answers read;
    RecordScanner scanner(read);
    for (int n = 0; n < 300; ++n) {
        scanner.feed(trickyRecord(random, n % 4 == 0));
    }
    scanner.finish();
    ASSERT_EQ(read.answers.size(), 300U * 17);
    ASSERT_EQ(std::ranges::count(read.answers, true, &std::pair<std::string, bool>::second), 75U * 17);
    std::size_t found = 0;
    for (const std::string_view text : words(kTexts)) {
        CaselessSearch search(text);
        const std::string folded = foldCase(text);
        for (const auto& [answer, asciiRecord] : read.answers) {
            const bool expected = foldCase(answer).find(folded) != std::string::npos;
            found += expected ? 1 : 0;
            EXPECT_EQ(asciiRecord ? search.foundInAscii(answer) : search.foundIn(answer), expected)
                << "'" << text << "' in '" << answer << "'";
        }
    }
    EXPECT_GT(found, 1000U);  // the records hold what the texts look for
}

}  // namespace
}  // namespace profiledesk::office
