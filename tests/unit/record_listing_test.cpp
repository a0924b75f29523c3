// The listing of the record file: every line shown, the last one given its line end, controls
// shown visibly on a terminal only, and a copy straight to a descriptor.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "store/record_store.hpp"
#include "test_support.hpp"

namespace profiledesk {
namespace {

using testing::readFile;
using testing::ScratchFolder;
using testing::writeFile;

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

}  // namespace
}  // namespace profiledesk
