// The record file: the 30-line format, appends that are whole or absent, failures that
// name the file and the reason, and the listing.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sstream>
#include <vector>

#include "record/record_format.hpp"
#include "store/record_file.hpp"
#include "store/record_file_posix.hpp"
#include "store/record_store.hpp"
#include "test_support.hpp"

namespace profiledesk {
namespace {

using testing::linesOf;
using testing::readFile;
using testing::ScratchFolder;
using testing::writeFile;

CandidateRecord sampleRecord() {
    CandidateRecord record;
    record.firstName = "John";
    record.surname = "Doe";
    record.dateOfBirth = "12-03-1990";
    record.ageText = "36";
    record.ageValue = 30;
    record.yearsAhead = 5;
    record.libraryFee = "1500";
    return record;
}

TEST(RecordFormat, ThirtyLinesStampedWithTheRunsClock) {
    const auto lines = linesOf(formatRecord(sampleRecord(), testing::sixthOfDecember(), kMakerDetails));
    ASSERT_EQ(lines.size(), 30U);
    EXPECT_EQ(lines[0], " -->                     Profile Desk Community Survey[PDCS] !!!");
    EXPECT_EQ(lines[8], " Candidate's Date Of Birth Is :: 12-03-1990 , Candidate's Age Is :: 36");
    EXPECT_EQ(lines[15],
              " Your Age In 5 Years Time Will Be :: 35 . Thank You For Providing These Options "
              "And Selections. ");
    EXPECT_EQ(lines[20], " " + std::string(118, '*'));
    EXPECT_EQ(lines[21], " The Multiple Of The(This) Number Is :: 5 x 5 = 25");
    EXPECT_EQ(lines[23], std::string(117, '-'));
    EXPECT_EQ(lines[24], "The Time Now Is :: 03:53PM.  -->  Today's Date Is 6 December 2026.");
    EXPECT_EQ(lines[25], "");
    EXPECT_EQ(lines[26], std::string(119, '-'));
    EXPECT_EQ(lines[27], " " + std::string(118, '-'));
    EXPECT_EQ(lines[29],
              " " + std::string(44, '-') + "> Community Records Department <" + std::string(48, '-'));
}

TEST(RecordStore, FirstRecordCreatesTheFileAndLaterOnesFollowIt) {
    ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    CandidateRecord first = sampleRecord();
    CandidateRecord second = sampleRecord();
    second.firstName = "Jane";
    ASSERT_TRUE(appendWhole(path, formatRecord(first, testing::sixthOfDecember(), kMakerDetails)).isOk());
    ASSERT_TRUE(appendWhole(path, formatRecord(second, testing::sixthOfDecember(), kMakerDetails)).isOk());
    const auto lines = linesOf(readFile(path));
    ASSERT_EQ(lines.size(), 60U);
    EXPECT_EQ(lines[0], " -->                     Profile Desk Community Survey[PDCS] !!!");
    EXPECT_EQ(lines[6], " Candidate Name :: John Doe");
    EXPECT_EQ(lines[36], " Candidate Name :: Jane Doe");
}

TEST(RecordStore, AFileThatCannotBeOpenedIsReportedWithItsNameAndReason) {
    ScratchFolder folder;
    const std::string path = folder.file("missing-folder/datas.dat");
    const Status status =
        appendWhole(path, formatRecord(sampleRecord(), testing::sixthOfDecember(), kMakerDetails));
    ASSERT_FALSE(status.isOk());
    EXPECT_EQ(status.message(), "could not save the record to '" + path + "': No such file or directory");
}

// Each at once: the system's own open would wait for a FIFO's reader, and a link to nothing
// once went round between open and create for ever.
TEST(RecordStore, OnlyARegularFileOrALinkToOneIsAppendedTo) {
    ::alarm(10);  // a wait or a loop ends the tests instead of holding them up
    ScratchFolder folder;
    const std::string fifo = folder.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string path = folder.file("datas.dat");
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"/dev/null", "not a regular file"},
        {fifo, "not a regular file"},
        {folder.file("missing"), "a symbolic link to a missing file"},
        {folder.file("missing-folder/datas.dat"), "a symbolic link to a missing file"},
    };
    for (const auto& [target, reason] : refused) {
        std::filesystem::create_symlink(target, path);
        EXPECT_EQ(appendWhole(path, "a line\n").message(),
                  std::string("could not save the record to '").append(path).append("': ").append(reason));
        std::filesystem::remove(path);
    }
    writeFile(folder.file("records"), "earlier\n");
    std::filesystem::create_symlink("records", folder.file("datas.dat"));
    ASSERT_TRUE(appendWhole(folder.file("datas.dat"), "a line\n").isOk());
    EXPECT_EQ(readFile(folder.file("records")), "earlier\na line\n");
    ::alarm(0);
}

// Runs `action` with the file size limited to `limit` bytes, surviving the writes past it.
void withFileSizeLimit(rlim_t limit, const std::function<void()>& action) {
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    action();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    (void)std::signal(SIGXFSZ, previousHandler);
}

TEST(RecordStore, AFileSizeLimitInsideTheRecordCutsTheFileBack) {
    ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    const std::string before = "an earlier record\n";
    writeFile(path, before);
    const std::string record = formatRecord(sampleRecord(), testing::sixthOfDecember(), kMakerDetails);

    // The limit falls in the middle of the record; the process must survive the write.
    Status status = Status::ok();
    withFileSizeLimit(before.size() + record.size() / 2, [&] { status = appendWhole(path, record); });

    ASSERT_FALSE(status.isOk());
    EXPECT_NE(status.message().find("File too large"), std::string::npos);
    EXPECT_EQ(readFile(path), before);
}

// A file system without locks, as some network shares are.
int failWithNoLocks(int /*fd*/, struct flock* /*lock*/) {
    errno = ENOLCK;
    return -1;
}

class WithoutLocks : public ::testing::Test {
protected:
    void SetUp() override { previous_ = posix::replaceSetLockCall(failWithNoLocks); }
    void TearDown() override { (void)posix::replaceSetLockCall(previous_); }

private:
    posix::SetLockCall previous_ = nullptr;
};

TEST_F(WithoutLocks, AppendsGoAheadAndAFailureCutsNothingBackButSaysSo) {
    ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    const std::string record = formatRecord(sampleRecord(), testing::sixthOfDecember(), kMakerDetails);
    ASSERT_TRUE(appendWhole(path, record).isOk());
    ASSERT_EQ(readFile(path), record);

    // Cutting back could take another desk's record, appended after our part unlocked.
    const std::size_t limit = record.size() + record.size() / 2;
    Status status = Status::ok();
    withFileSizeLimit(limit, [&] { status = appendWhole(path, record); });
    EXPECT_EQ(status.code(), Status::Code::ioError);
    EXPECT_EQ(status.message(), "could not save the record to '" + path +
                                    "': File too large (the file system has no locks, so part of the "
                                    "record may remain)");
    EXPECT_EQ(readFile(path), record + record.substr(0, limit - record.size()));

    // A listing without locks still shows what is there.
    std::ostringstream out;
    ASSERT_TRUE(listRecords(path, ListingTarget{out, -1, false}).isOk());
    EXPECT_EQ(out.str().size(), limit + 1);  // the partial last line gets its line end
}

TEST(RecordStatus, TheCodeSaysSuccessNotAnEmptyMessage) {
    EXPECT_FALSE(Status::failure("").isOk());
    EXPECT_FALSE(Status::failure(Status::Code::ok, "").isOk());
    EXPECT_TRUE(Status::ok().isOk());
    EXPECT_EQ(Status::ok().code(), Status::Code::ok);
}

TEST(RecordStatus, TheReasonIsTheSystemsWordsAloneAndEmptyWithoutThem) {
    const Status named =
        Status::failure(Status::Code::accessDenied, "could not read", "a.dat", "Permission denied");
    EXPECT_EQ(named.message(), "could not read 'a.dat': Permission denied");
    EXPECT_EQ(named.reason(), "Permission denied");
    const Status plain = Status::failure("could not list 'a.dat' into itself");
    EXPECT_EQ(plain.reason(), "");
    EXPECT_EQ(Status::ok().reason(), "");
}

TEST(RecordStore, AFailedSaveEndsTheRunWithStatusOneAndAMessage) {
    testing::ScriptedRun run("1 John Doe\n");
    std::filesystem::create_directory(run.folder.file("datas.dat"));  // a folder where the file should be
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(run.err.str(),
              "profiledesk: the answers ended after 2 of 17\nprofiledesk: could not save the record to '" +
                  run.folder.file("datas.dat") + "': Is a directory\n");
    EXPECT_TRUE(run.out.str().ends_with(" ........> Kindly Press Any Key To Continue <........ \n"));
    EXPECT_EQ(run.keyWaits, 1);
}

struct Listing {
    Status status = Status::ok();
    std::string shown;
};

Listing list(const std::string& content, bool terminal = false) {
    ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    writeFile(path, content);
    std::ostringstream out;
    Listing listing;
    listing.status = listRecords(path, ListingTarget{out, -1, terminal});
    listing.shown = out.str();
    return listing;
}

TEST(RecordListing, ShowsEveryLineAddingTheLastLineEnd) {
    EXPECT_EQ(list("one\n\nthree\n").shown, "one\n\nthree\n");
    EXPECT_EQ(list("one\nlast").shown, "one\nlast\n");
    EXPECT_EQ(list("").shown, "");
    EXPECT_EQ(list("\n").shown, "\n");
}

TEST(RecordListing, LinesLongerThanTheBufferAreShownWhole) {
    const std::string longLine(300 * 1024 + 7, 'x');
    EXPECT_EQ(list(longLine + "\nnext").shown, longLine + "\nnext\n");
}

TEST(RecordListing, ControlCharactersAreShownInCaretNotationOnATerminalOnly) {
    const std::string stored = "a\x1b]0;forged title\x07z\tb\x7f\rc\n";
    EXPECT_EQ(list(stored, true).shown, "a^[]0;forged title^Gz\tb^?^Mc\n");
    EXPECT_EQ(list(stored, false).shown, stored);
}

TEST(RecordListing, C1ControlsAreShownOnATerminalEvenAcrossTheBuffersEdge) {
    // 0xC2 as the buffer's last byte and 0x9B as the next one's first: CSI all the same.
    std::string stored(128 * 1024 - 1, 'a');
    stored +=
        "\xc2\x9b"
        "2J \xc3\xa9\xc2\xa0\n";
    const std::string shown = list(stored, true).shown;
    EXPECT_EQ(shown.substr(stored.size() - 11), "a<U+009B>2J \xc3\xa9\xc2\xa0\n");
    EXPECT_EQ(list(stored, false).shown, stored);
    EXPECT_EQ(list("cut \xc2", true).shown, "cut \xc2\n");
}

TEST(RecordListing, AMissingFileGetsTheMessageWithoutALineEnd) {
    ScratchFolder folder;
    std::ostringstream out;
    const Status status = listRecords(folder.file("datas.dat"), ListingTarget{out, -1, false});
    EXPECT_TRUE(status.isOk());
    EXPECT_EQ(out.str(), "Unable to open the stored(saved) 'data.dat' file");
}

TEST(RecordListing, AFileThatCannotBeReadEndsTheRunWithStatusOne) {
    testing::ScriptedRun run("2\n");
    std::filesystem::create_directory(run.folder.file("datas.dat"));
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(run.err.str(),
              "profiledesk: could not read '" + run.folder.file("datas.dat") + "': Is a directory\n");
}

TEST(RecordListing, FailuresToOpenCarryACodeForEachKind) {
    ScratchFolder folder;
    EXPECT_EQ(RecordReader(folder.file("datas.dat")).status().code(), Status::Code::notFound);
    std::filesystem::create_directory(folder.file("folder"));
    EXPECT_EQ(RecordReader(folder.file("folder")).status().code(), Status::Code::notRegularFile);

    // A device reads on for ever; it is refused before anything is read.
    const std::string device = folder.file("device");
    std::filesystem::create_symlink("/dev/zero", device);
    const RecordReader reader(device);
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.status().code(), Status::Code::notRegularFile);
    EXPECT_EQ(reader.status().message(), "could not read '" + device + "': not a regular file");
}

TEST(RecordListing, CopiesStraightToADescriptorAndAddsTheLastLineEnd) {
    ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    writeFile(path, "first\nlast");
    const std::string shownPath = folder.file("shown");
    const int shown = ::open(shownPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(shown, 0);
    std::ostringstream out;
    out << "before ";
    const Status status = listRecords(path, ListingTarget{out, shown, false});
    ::close(shown);
    EXPECT_TRUE(status.isOk());
    EXPECT_EQ(readFile(shownPath), "first\nlast");
    EXPECT_EQ(out.str(), "before \n");
}

TEST(RecordListing, RefusesToListTheFileIntoItself) {
    ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    writeFile(path, "a record\n");
    const int appending = ::open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(appending, 0);
    std::ostringstream out;
    const Status status = listRecords(path, ListingTarget{out, appending, false});
    ::close(appending);
    EXPECT_EQ(status.message(), "could not list '" + path + "' into itself");
    EXPECT_EQ(readFile(path), "a record\n");
}

TEST(RecordListing, ReadsOnlyAsFarAsTheFileReachedWhenOpened) {
    ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    writeFile(path, "first\n");
    RecordReader reader(path);
    ASSERT_TRUE(reader.isOpen());
    ASSERT_TRUE(appendWhole(path, "second\n").isOk());
    std::array<char, 64> buffer{};
    const std::size_t got = reader.read(buffer.data(), buffer.size());
    EXPECT_EQ(std::string(buffer.data(), got), "first\n");
    EXPECT_EQ(reader.read(buffer.data(), buffer.size()), 0U);
}

}  // namespace
}  // namespace profiledesk
