// The record file's rules over in-memory file primitives: what an append does when a write,
// a sync or the locks fail, and what a reader refuses, locks and reads, whatever the platform.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "store/file_primitives.hpp"
#include "store/record_file.hpp"

namespace profiledesk {
namespace {

// Files as strings, and a log of every call that changes or guards one.
class FakeFiles final : public FilePrimitives {
public:
    struct File {
        std::string bytes;
        FileKind kind = FileKind::regular;
    };

    std::map<std::string, File> files;
    std::vector<std::string> calls;
    bool locksSupported = true;
    bool crlf = false;
    bool syncFails = false;
    bool lockFails = false;
    std::size_t roomLeft = std::numeric_limits<std::size_t>::max();   // bytes the disk still takes
    std::size_t readChunk = std::numeric_limits<std::size_t>::max();  // most bytes one read gives

    SystemError openForAppend(const std::string& path, int& handle) override {
        if (!files.contains(path)) {
            return SystemError{Status::Code::notFound, "no such file"};
        }
        calls.emplace_back("open");
        return openHandle(path, handle);
    }
    SystemError createForAppend(const std::string& path, int& handle) override {
        files[path];
        calls.emplace_back("create");
        return openHandle(path, handle);
    }
    SystemError openForRead(const std::string& path, int& handle, bool /*waitForWriter*/) override {
        if (!files.contains(path)) {
            return SystemError{Status::Code::notFound, "no such file"};
        }
        return openHandle(path, handle);
    }
    void close(int handle) override { open_.erase(handle); }
    SystemError describe(int handle, FileInfo& info) override {
        const File& file = fileOf(handle);
        info = FileInfo{file.kind, file.bytes.size()};
        return {};
    }
    SystemError lock(int /*handle*/, bool exclusive, bool& supported) override {
        supported = locksSupported;
        if (lockFails) {
            return SystemError{Status::Code::ioError, "deadlock"};
        }
        calls.emplace_back(!supported ? "no lock" : exclusive ? "lock" : "shared lock");
        return {};
    }
    void unlock(int /*handle*/) override { calls.emplace_back("unlock"); }
    SystemError write(int handle, std::string_view bytes, std::size_t& done) override {
        done = std::min(bytes.size(), roomLeft);
        fileOf(handle).bytes.append(bytes.substr(0, done));
        roomLeft -= done;
        calls.emplace_back("write");
        return done == 0 ? SystemError{Status::Code::ioError, "disk full"} : SystemError{};
    }
    SystemError read(int handle, char* buffer, std::size_t size, std::size_t& done) override {
        const std::string& bytes = fileOf(handle).bytes;
        std::size_t& at = open_.at(handle).position;
        done = std::min({size, readChunk, bytes.size() - std::min(at, bytes.size())});
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), done, buffer);
        at += done;
        return {};
    }
    SystemError position(int handle, std::uint64_t& offset) override {
        offset = open_.at(handle).position;
        return {};
    }
    SystemError seek(int handle, std::uint64_t offset) override {
        open_.at(handle).position = offset;
        return {};
    }
    SystemError syncData(int /*handle*/) override {
        calls.emplace_back("sync");
        return syncFails ? SystemError{Status::Code::ioError, "sync refused"} : SystemError{};
    }
    SystemError truncate(int handle, std::uint64_t size) override {
        fileOf(handle).bytes.resize(size);
        calls.emplace_back("truncate");
        return {};
    }
    SystemError syncFolderOf(const std::string& /*path*/) override {
        calls.emplace_back("sync folder");
        return {};
    }
    bool isSameFile(int /*handle*/, int /*descriptor*/) override { return false; }
    [[nodiscard]] bool storesCrlf() const override { return crlf; }
    [[nodiscard]] bool copiesToDescriptors() const override { return false; }
    CopyOutcome copy(int, int, std::uint64_t, std::size_t, std::size_t& done, SystemError&) override {
        done = 0;
        return CopyOutcome::unsupported;
    }

private:
    struct Handle {
        std::string path;
        std::size_t position = 0;
    };
    std::map<int, Handle> open_;
    int next_ = 3;

    SystemError openHandle(const std::string& path, int& handle) {
        handle = next_++;
        open_[handle] = Handle{path, 0};
        return {};
    }
    File& fileOf(int handle) { return files.at(open_.at(handle).path); }
};

using Calls = std::vector<std::string>;

TEST(RecordFilePolicy, OnlyTheSaveThatCreatesTheFileSyncsItsFolder) {
    FakeFiles fake;
    ASSERT_TRUE(appendWhole("datas.dat", "one\n", fake).isOk());
    ASSERT_TRUE(appendWhole("datas.dat", "two\n", fake).isOk());
    EXPECT_EQ(fake.files["datas.dat"].bytes, "one\ntwo\n");
    EXPECT_EQ(fake.calls, (Calls{"create", "sync folder", "lock", "write", "sync", "unlock", "open", "lock",
                                 "write", "sync", "unlock"}));
}

TEST(RecordFilePolicy, AWriteFailingPartWayIsCutBackBeforeTheLockIsLetGo) {
    FakeFiles fake;
    fake.files["datas.dat"].bytes = "earlier\n";
    fake.roomLeft = 5;
    const Status status = appendWhole("datas.dat", "a record\n", fake);
    EXPECT_EQ(status.code(), Status::Code::ioError);
    EXPECT_EQ(status.message(), "could not save the record to 'datas.dat': disk full");
    EXPECT_EQ(fake.files["datas.dat"].bytes, "earlier\n");
    EXPECT_EQ(fake.calls, (Calls{"open", "lock", "write", "write", "truncate", "sync", "unlock"}));
}

TEST(RecordFilePolicy, AFailedSyncIsReportedAndTheRecordTakenBack) {
    FakeFiles fake;
    fake.files["datas.dat"].bytes = "earlier\n";
    fake.syncFails = true;
    const Status status = appendWhole("datas.dat", "a record\n", fake);
    EXPECT_EQ(status.message(), "could not save the record to 'datas.dat': sync refused");
    EXPECT_EQ(status.reason(), "sync refused");
    EXPECT_EQ(fake.files["datas.dat"].bytes, "earlier\n");
}

TEST(RecordFilePolicy, WithoutLocksAFailureCutsNothingBackAndSaysPartMayRemain) {
    FakeFiles fake;
    fake.files["datas.dat"].bytes = "earlier\n";
    fake.locksSupported = false;
    fake.roomLeft = 5;
    const Status status = appendWhole("datas.dat", "a record\n", fake);
    EXPECT_EQ(status.message(),
              "could not save the record to 'datas.dat': disk full (the file system has no locks, so part "
              "of the record may remain)");
    EXPECT_EQ(fake.files["datas.dat"].bytes, "earlier\na rec");
    EXPECT_EQ(fake.calls, (Calls{"open", "no lock", "write", "write"}));
}

TEST(RecordFilePolicy, ALockThatFailsStopsTheSaveAndTheReader) {
    FakeFiles fake;
    fake.files["datas.dat"].bytes = "earlier\n";
    fake.lockFails = true;
    EXPECT_EQ(appendWhole("datas.dat", "a record\n", fake).message(),
              "could not save the record to 'datas.dat': deadlock");
    EXPECT_EQ(fake.files["datas.dat"].bytes, "earlier\n");
    const RecordReader reader("datas.dat", fake);
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.status().message(), "could not lock 'datas.dat': deadlock");
}

TEST(RecordFilePolicy, AReaderRefusesDevicesAndFoldersButReadsAFifoToItsEndUnlocked) {
    FakeFiles fake;
    fake.files["device"].kind = FileKind::other;
    fake.files["folder"].kind = FileKind::folder;
    fake.files["fifo"] = FakeFiles::File{"piped\n", FileKind::fifo};

    const RecordReader device("device", fake);
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(device.status().code(), Status::Code::notRegularFile);
    EXPECT_EQ(device.status().message(), "could not read 'device': not a regular file");
    const RecordReader folder("folder", fake);
    EXPECT_FALSE(folder.isOpen());
    EXPECT_EQ(folder.status().code(), Status::Code::notRegularFile);
    EXPECT_EQ(RecordReader("missing", fake).status().code(), Status::Code::notFound);

    RecordReader fifo("fifo", fake);
    fake.files["fifo"].bytes += "more\n";
    std::string buffer(64, '\0');
    EXPECT_EQ(buffer.substr(0, fifo.read(buffer.data(), buffer.size())), "piped\nmore\n");
    EXPECT_TRUE(fake.calls.empty());
}

TEST(RecordFilePolicy, AReaderStopsAtTheSizeItLearntUnderASharedLock) {
    FakeFiles fake;
    fake.files["datas.dat"].bytes = "first\n";
    RecordReader reader("datas.dat", fake);
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(fake.calls, (Calls{"shared lock", "unlock"}));
    fake.files["datas.dat"].bytes += "second\n";
    std::string buffer(64, '\0');
    EXPECT_EQ(buffer.substr(0, reader.read(buffer.data(), buffer.size())), "first\n");
    EXPECT_EQ(reader.read(buffer.data(), buffer.size()), 0U);
}

TEST(RecordFilePolicy, CrlfLineEndsAreStoredAndReadBackAsNewlinesAcrossReads) {
    FakeFiles fake;
    fake.crlf = true;
    ASSERT_TRUE(appendWhole("datas.dat", "ab\ncd\n\n", fake).isOk());
    EXPECT_EQ(fake.files["datas.dat"].bytes, "ab\r\ncd\r\n\r\n");

    // Reads of three bytes end on a CR now and then; its LF comes with the next read.
    fake.readChunk = 3;
    RecordReader reader("datas.dat", fake);
    std::string shown;
    std::string buffer(16, '\0');
    for (std::size_t got = 0; (got = reader.read(buffer.data(), buffer.size())) > 0;) {
        shown += buffer.substr(0, got);
    }
    EXPECT_EQ(shown, "ab\ncd\n\n");
    EXPECT_TRUE(reader.status().isOk());
}

// A reader that counts the file's own bytes (a collate going on after a record) skips to a
// place and reads CRLF as stored; a pipe has no places, nor a place past the size.
TEST(RecordFilePolicy, AReaderSkipsWithinTheSizeItLearntAndReadsLineEndsAsStoredWhenAsked) {
    FakeFiles fake;
    fake.crlf = true;
    fake.files["datas.dat"].bytes = "ab\r\ncd\r\n";
    fake.files["fifo"] = FakeFiles::File{"piped\n", FileKind::fifo};
    RecordReader reader("datas.dat", fake, RecordReader::LineEnds::asStored);
    ASSERT_TRUE(reader.sized());
    fake.files["datas.dat"].bytes += "ef\r\n";
    EXPECT_FALSE(reader.skip(9));
    EXPECT_EQ(reader.remaining(), 8U);
    EXPECT_TRUE(reader.skip(2));
    EXPECT_EQ(reader.remaining(), 6U);
    std::string buffer(16, '\0');
    EXPECT_EQ(buffer.substr(0, reader.read(buffer.data(), buffer.size())), "\r\ncd\r\n");
    EXPECT_EQ(reader.read(buffer.data(), buffer.size()), 0U);
    EXPECT_TRUE(reader.status().isOk());

    RecordReader fifo("fifo", fake, RecordReader::LineEnds::asStored);
    EXPECT_FALSE(fifo.sized());
    EXPECT_FALSE(fifo.skip(1));
    EXPECT_EQ(buffer.substr(0, fifo.read(buffer.data(), buffer.size())), "piped\n");
}

}  // namespace
}  // namespace profiledesk
