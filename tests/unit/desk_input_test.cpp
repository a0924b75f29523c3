// The desks a command reads: NAME=PATH or a path alone on the command line, and a desks file's
// [[desk]] tables, each mistake told as a usage error at its line.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "office/desks/desk_input.hpp"
#include "test_support.hpp"

namespace profiledesk::office {
namespace {

std::vector<std::string> fields(const DeskInput& desk) { return {desk.name, desk.path, desk.encoding}; }

TEST(DeskInput, AnArgumentIsNameEqualsPathOrAPathThatNamesItself) {
    EXPECT_EQ(fields(deskFromArgument("north=/srv/north/datas.dat").value()),
              (std::vector<std::string>{"north", "/srv/north/datas.dat", ""}));
    EXPECT_EQ(fields(deskFromArgument("datas.dat").value()),
              (std::vector<std::string>{"datas.dat", "datas.dat", ""}));
    // A '/' before the '=' makes it part of a path.
    EXPECT_EQ(fields(deskFromArgument("./a=b.dat").value()),
              (std::vector<std::string>{"./a=b.dat", "./a=b.dat", ""}));
    EXPECT_EQ(fields(deskFromArgument("north=a=b.dat").value()),
              (std::vector<std::string>{"north", "a=b.dat", ""}));
    for (const char* argument : {"=a.dat", "north="}) {
        const Result<DeskInput> desk = deskFromArgument(argument);
        ASSERT_FALSE(desk.isOk()) << argument;
        EXPECT_TRUE(desk.status().isUsage());
        EXPECT_EQ(desk.status().message(), std::string(argument) +
                                               ": a desk needs a NAME and a PATH (NAME=PATH; a path with "
                                               "'=' in it as ./" +
                                               argument + ")");
    }
}

class DesksFile : public ::testing::Test {
protected:
    // The desks file's message, or "" when it was read.
    std::string mistake(const std::string& content) {
        testing::writeFile(file_, content);
        const Result<std::vector<DeskInput>> desks = readDesksFile(file_);
        if (desks.isOk()) {
            return "";
        }
        EXPECT_TRUE(desks.status().isUsage());
        return desks.status().message().substr(file_.size());
    }

    testing::ScratchFolder folder_;
    std::string file_ = folder_.file("desks.toml");
};

TEST_F(DesksFile, EachMistakeIsToldAtItsDesksLine) {
    EXPECT_EQ(mistake("[[desk]]\nname = \"north\"\npath = \"n.dat\"\ncolour = \"red\"\n"),
              ":1: unknown key 'colour' (a desk has name, path and encoding)");
    EXPECT_EQ(mistake("\n[[desk]]\nname = \"\"\npath = \"n.dat\"\n"),
              ":2: name is not a text with something in it");
    EXPECT_EQ(mistake("[[desk]]\nname = \"north\"\npath = \"n.dat\"\nencoding = \"EBCDIC\"\n").substr(0, 37),
              ":1: unknown encoding 'EBCDIC' (known:");
    EXPECT_EQ(mistake("[[desk]]\nname = \"north\"\n"), ":1: a desk without a path");
    EXPECT_EQ(mistake("[[desk]]\nname = \"north\"\npath = \"n.dat\"\n\n[[desk]]\nname = \"north\"\npath = "
                      "\"s.dat\"\n"),
              ":5: a second desk named 'north' (the first on line 1)");
    EXPECT_EQ(mistake(""), ": no [[desk]] table");
}

TEST_F(DesksFile, PathsAreTakenFromItsFolderAndEncodingsInAnyCase) {
    const std::string inside = folder_.file("sub");
    std::filesystem::create_directory(inside);
    file_ = inside + "/desks.toml";
    testing::writeFile(file_,
                       "[[desk]]\nname = \"north\"\npath = \"n.dat\"\nencoding = \"cp1252\"\n\n"
                       "[[desk]]\nname = \"south\"\npath = \"/srv/s.dat\"\n");
    const Result<std::vector<DeskInput>> desks = readDesksFile(file_);
    ASSERT_TRUE(desks.isOk()) << desks.status().message();
    ASSERT_EQ(desks->size(), 2U);
    EXPECT_EQ(fields(desks->at(0)), (std::vector<std::string>{"north", inside + "/n.dat", "CP1252"}));
    EXPECT_EQ(fields(desks->at(1)), (std::vector<std::string>{"south", "/srv/s.dat", ""}));
}

}  // namespace
}  // namespace profiledesk::office
