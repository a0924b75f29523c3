// The record file on the system's own files: appends that are whole or absent, failures that
// name the file and the reason, a file system without locks, and what a reader refuses and
// how far it reads.

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

TEST(RecordStore, FirstRecordCreatesTheFileAndLaterOnesFollowIt) {
    ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    CandidateRecord first = testing::sampleRecord();
    CandidateRecord second = testing::sampleRecord();
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
        appendWhole(path, formatRecord(testing::sampleRecord(), testing::sixthOfDecember(), kMakerDetails));
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
    const std::string record =
        formatRecord(testing::sampleRecord(), testing::sixthOfDecember(), kMakerDetails);

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
    const std::string record =
        formatRecord(testing::sampleRecord(), testing::sixthOfDecember(), kMakerDetails);
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

TEST(RecordReader, FailuresToOpenCarryACodeForEachKind) {
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

TEST(RecordReader, ReadsOnlyAsFarAsTheFileReachedWhenOpened) {
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
