// Reading a desk's file: through the thread that reads ahead, a file of many pieces reads as
// the scanner reads it whole, and a listener that stops ends the thread; the answers come in
// UTF-8, each decoded within its own bounds, with bytes not valid in the desk's encoding told
// once a line when it is named and once a file when not.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "office/desks/desk_file.hpp"
#include "record/record_format.hpp"
#include "record_samples.hpp"
#include "test_support.hpp"

namespace profiledesk::office {
namespace {

using Told = std::tuple<std::size_t, std::size_t, std::uint64_t, std::uint64_t, std::string>;

// All a desk's file told, records as copies.
struct Heard {
    std::vector<StoredRecord> records;
    std::vector<Told> told;
    std::vector<bool> notCopied;  // the record handed on is the scanner's own
    std::vector<std::size_t> problems;
    std::vector<std::string> notes;
};

struct Hearing final : DeskListener {
    Hearing(Heard& into, std::size_t stopAt) : heard(into), stopAfter(stopAt) {}
    bool onRecord(const StoredRecord& record, std::string_view stored) override {
        heard.records.push_back(record);
        heard.told.emplace_back(record.number, record.firstLine, record.startOffset, record.endOffset,
                                stored);
        heard.notCopied.push_back(record.text.data() == stored.data());
        return heard.records.size() != stopAfter;
    }
    void onProblem(const ScanProblem& problem) override { heard.problems.push_back(problem.line); }
    void onNote(const ScanProblem& note) override {
        heard.notes.push_back(std::to_string(note.line) + " " + note.what);
    }
    Heard& heard;
    std::size_t stopAfter;
};

Heard readDesk(const std::string& content, const std::string& encoding, std::size_t stopAfter = 0) {
    testing::ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    testing::writeFile(path, content);
    Heard heard;
    Hearing hearing(heard, stopAfter);
    ScanCounts counts;
    EXPECT_TRUE(
        scanDeskFile(DeskInput{"north", path, encoding}, hearing, counts, kDefaultMaxLineBytes).isOk());
    return heard;
}

// The scanner fed the whole file at once, on this thread: what the reading thread must agree with.
struct ReadWhole final : ScanListener {
    bool onRecord(const StoredRecord& record) override {
        told.emplace_back(record.number, record.firstLine, record.startOffset, record.endOffset, record.text);
        return true;
    }
    void onProblem(const ScanProblem& problem) override { problems.push_back(problem.line); }
    std::vector<Told> told;
    std::vector<std::size_t> problems;
};

TEST(DeskFile, AFileOfManyPiecesReadsAsTheScannerReadsItWhole) {
    std::mt19937 random = testing::seeded(26);
    std::string file;
    for (int n = 0; n < 1200; ++n) {  // about 3 MiB: pieces of 512 KiB, some records across two
        std::string record =
            formatRecord(testing::randomRecord(random), testing::randomClock(random), kMakerDetails);
        if (n % 97 == 0) {
            file += "stray\n";
        } else if (n % 89 == 0) {
            record = testing::crlf(record);
        } else if (n % 151 == 0) {
            record.erase(record.find(" The Multiple"));
        }
        file += record;
    }
    ReadWhole whole;
    RecordScanner scanner(whole);
    scanner.feed(file);
    scanner.finish();
    ASSERT_GT(whole.told.size(), 1100U);

    testing::ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    testing::writeFile(path, file);
    Heard heard;
    Hearing hearing(heard, 0);
    ScanCounts counts;
    std::size_t observed = 0;
    ASSERT_TRUE(scanDeskFile(DeskInput{path, path, ""}, hearing, counts, kDefaultMaxLineBytes,
                             [&observed](std::size_t bytes) { observed += bytes; })
                    .isOk());
    EXPECT_EQ(heard.told, whole.told);
    EXPECT_EQ(heard.problems, whole.problems);
    EXPECT_EQ(counts.records, whole.told.size());
    EXPECT_EQ(counts.problems, whole.problems.size());
    EXPECT_EQ(observed, file.size());
}

TEST(DeskFile, AListenerThatStopsHearsNothingMoreAndEndsTheReadingThread) {
    const std::string record =
        formatRecord(testing::sampleRecord(), testing::sixthOfDecember(), kMakerDetails);
    std::string file;
    for (int n = 0; n < 1500; ++n) {  // more than the pieces read ahead
        file += record + "stray\n";
    }
    const Heard heard = readDesk(file, "", 2);
    EXPECT_EQ(heard.records.size(), 2U);
    EXPECT_EQ(heard.problems, std::vector<std::size_t>{31});
}

// A desk writing CP1252: "Zoë Müller" of "Köln", and an answer with 0x81, which CP1252 leaves
// undefined.
CandidateRecord windowsRecord(const std::string& firstName) {
    CandidateRecord candidate = testing::sampleRecord();
    candidate.firstName = firstName;
    candidate.surname = "M\xFCller";
    candidate.placeOfBirth = "K\xF6ln";
    return candidate;
}

TEST(DeskFile, EachAnswerIsDecodedWithinItsOwnBounds) {
    const std::string stored =
        formatRecord(windowsRecord("Zo\xEB"), testing::sixthOfDecember(), kMakerDetails);
    const Heard heard = readDesk(stored, "CP1252");
    ASSERT_EQ(heard.records.size(), 1U);
    const StoredRecord& got = heard.records.at(0);
    CandidateRecord inUtf8 = testing::sampleRecord();
    inUtf8.firstName = "Zo\xC3\xAB";
    inUtf8.surname = "M\xC3\xBCller";
    inUtf8.placeOfBirth = "K\xC3\xB6ln";
    EXPECT_EQ(got.text, formatRecord(inUtf8, testing::sixthOfDecember(), kMakerDetails));
    EXPECT_EQ(got.field(Field::firstName), "Zo\xC3\xAB");
    EXPECT_EQ(got.field(Field::surname), "M\xC3\xBCller");
    EXPECT_EQ(got.field(Field::placeOfBirth), "K\xC3\xB6ln");
    EXPECT_EQ(got.field(Field::dateOfBirth), "12-03-1990");
    EXPECT_FALSE(got.ascii);
    EXPECT_EQ(std::get<4>(heard.told.at(0)), stored);
    EXPECT_TRUE(heard.notes.empty());
}

TEST(DeskFile, BadBytesAreToldOnceALineWhenTheEncodingIsNamedAndOnceAFileWhenNot) {
    CandidateRecord bad = windowsRecord("a\x81");
    bad.surname = "b\x81";  // on the first name's line
    bad.placeOfBirth = "\x81";
    const std::string record = formatRecord(bad, testing::sixthOfDecember(), kMakerDetails);
    const Heard named = readDesk(record + record, "CP1252");
    EXPECT_EQ(named.notes,
              (std::vector<std::string>{"7 not CP1252", "8 not CP1252", "37 not CP1252", "38 not CP1252"}));
    ASSERT_EQ(named.records.size(), 2U);
    EXPECT_EQ(named.records.at(1).field(Field::surname), "b\xEF\xBF\xBD");

    const Heard unnamed = readDesk(record + record, "");
    EXPECT_EQ(unnamed.notes, std::vector<std::string>{"0 not UTF-8 (a Windows desk? try --encoding CP1252)"});
    ASSERT_EQ(unnamed.records.size(), 2U);
    EXPECT_EQ(unnamed.records.at(1).field(Field::placeOfBirth), "\xEF\xBF\xBD");
    EXPECT_TRUE(unnamed.problems.empty());
}

TEST(DeskFile, AnAsciiOrUtf8RecordIsPassedOnAsItIs) {
    const std::string ascii =
        formatRecord(testing::sampleRecord(), testing::sixthOfDecember(), kMakerDetails);
    const Heard windows = readDesk(ascii, "CP1252");
    ASSERT_EQ(windows.records.size(), 1U);
    EXPECT_TRUE(windows.notCopied.at(0));
    EXPECT_TRUE(windows.records.at(0).ascii);

    CandidateRecord accented = testing::sampleRecord();
    accented.firstName = "Zo\xC3\xAB";
    const Heard utf8 = readDesk(formatRecord(accented, testing::sixthOfDecember(), kMakerDetails), "");
    ASSERT_EQ(utf8.records.size(), 1U);
    EXPECT_TRUE(utf8.notCopied.at(0));
    EXPECT_EQ(utf8.records.at(0).field(Field::firstName), "Zo\xC3\xAB");
}

TEST(DeskFile, ARecordInANamedCodePageIsDecodedThoughItReadsAsUtf8) {
    // 53 C3 A9 6F: "Séo" in UTF-8, and "SÃ©o" in CP1252, as the desk wrote it.
    CandidateRecord both = testing::sampleRecord();
    both.firstName = "S\xC3\xA9o";
    const Heard heard = readDesk(formatRecord(both, testing::sixthOfDecember(), kMakerDetails), "CP1252");
    ASSERT_EQ(heard.records.size(), 1U);
    EXPECT_EQ(heard.records.at(0).field(Field::firstName), "S\xC3\x83\xC2\xA9o");
    EXPECT_EQ(heard.notes, std::vector<std::string>{"0 looks like UTF-8; read as CP1252 as asked"});
}

}  // namespace
}  // namespace profiledesk::office
