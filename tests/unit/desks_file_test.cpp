// The desks file read from its text: bounded before toml++ sees it, and its mistakes told as
// a clerk would put them right.

#include <gtest/gtest.h>

#include <string>

#include "office/desks/desk_input.hpp"

namespace profiledesk::office {
namespace {

std::string mistake(const std::string& text) {
    const auto desks = parseDesks(text, "desks.toml");
    EXPECT_FALSE(desks.isOk());
    return desks.status().message();
}

// toml++ freed a key of 300,000 levels recursively, and crashed on it.
TEST(DesksFileBounds, KeysAndHeadersNestedTooDeepAreRefusedBeforeParsing) {
    std::string deep;
    for (int level = 0; level < 300000; ++level) {
        deep += "x.";
    }
    EXPECT_EQ(mistake(deep + "y = 1\n"),
              "desks.toml:1: nested too deep: more than 64 dots and brackets on one line");
    EXPECT_EQ(mistake("# desks\n[" + deep + "y]\n"),
              "desks.toml:2: nested too deep: more than 64 dots and brackets on one line");
    // A comment is no key, however many dots it holds.
    const auto desks =
        parseDesks("#" + std::string(100, '.') + "\n[[desk]]\nname = \"north\"\npath = \"a.dat\"\n",
                   "office/desks.toml");
    ASSERT_TRUE(desks.isOk()) << desks.status().message();
    EXPECT_EQ(desks->at(0).path, "office/a.dat");
    // The bound is the 64th: a line of 64 is read, of 65 refused.
    const auto withDots = [](std::size_t dots) {
        return "[[desk]]\nname = \"north\"\npath = \"a" + std::string(dots, '.') + "dat\"\n";
    };
    EXPECT_TRUE(parseDesks(withDots(64), "desks.toml").isOk());
    EXPECT_EQ(mistake(withDots(65)),
              "desks.toml:3: nested too deep: more than 64 dots and brackets on one line");
}

TEST(DesksFileBounds, AFileOfMoreThanOneMebibyteIsRefusedAtTheLineThatPassesIt) {
    std::string text;
    for (int kib = 0; kib < 1024; ++kib) {
        text += "# " + std::string(1021, '-') + "\n";  // 1 KiB a line
    }
    EXPECT_TRUE(parseDesks(text, "desks.toml").status().message().ends_with("no [[desk]] table"));
    EXPECT_EQ(mistake(text + "x"),
              "desks.toml:1025: more than 1 MiB: a desks file holds a few lines for each desk");
}

TEST(DesksFileBounds, ATextWithoutQuotesAndANameWithASlashAreToldPlainly) {
    EXPECT_EQ(mistake("[[desk]]\nname = north   # the north desk\npath = \"a.dat\"\n"),
              "desks.toml:2: a text must be in quotes: name = \"north\"");
    EXPECT_EQ(mistake("[[desk]]\nname = \"north\"\npath = north\\datas.dat\n"),
              "desks.toml:3: a text must be in quotes: path = \"north\\\\datas.dat\"");
    EXPECT_EQ(mistake("[[desk]]\nname = \"north/east\"\npath = \"a.dat\"\n"),
              "desks.toml:1: name 'north/east' holds a '/': a desk's name holds no slash");
}

}  // namespace
}  // namespace profiledesk::office
