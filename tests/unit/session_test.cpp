// A whole run of the desk: the menu's choices, and what a run tells when something fails: on
// the error stream, after its last line of output, so that a message never runs into the text
// of the run, and before the wait for a key.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "test_support.hpp"

namespace profiledesk {
namespace {

using testing::linesOf;
using testing::ScratchFolder;
using testing::ScriptedRun;

constexpr std::string_view kClosing = " \n ........> Kindly Press Any Key To Continue <........ \n";

struct SharedScreen {
    std::string shown;
    std::string shownWhenWaiting;
    int status = 0;
};

// One run whose output and error stream are one screen, as on a terminal.
SharedScreen runOnOneScreen(const std::string& typed, const std::string& recordFile) {
    std::istringstream in(typed);
    std::ostringstream screen;
    RunContext run{.in = in,
                   .out = screen,
                   .err = screen,
                   .clock = testing::sixthOfDecember(),
                   .recordFile = recordFile,
                   .outputDescriptor = -1,
                   .outputIsTerminal = false,
                   .record = {}};
    SharedScreen result;
    result.status = runSession(run, [&] { result.shownWhenWaiting = screen.str(); });
    result.shown = screen.str();
    return result;
}

TEST(Failures, AnUnreadableListingIsToldOnALineOfItsOwnAfterTheClosingPrompt) {
    ScratchFolder folder;
    const std::string path = folder.file("datas.dat");
    std::filesystem::create_symlink("datas.dat", path);  // a link to itself cannot be opened
    const SharedScreen screen = runOnOneScreen("2\n", path);
    EXPECT_EQ(screen.status, 1);
    const std::string expectedEnd = "Unable to open the stored(saved) 'data.dat' file" +
                                    std::string(kClosing) + "profiledesk: could not read '" + path +
                                    "': Too many levels of symbolic links\n";
    EXPECT_TRUE(screen.shown.ends_with(expectedEnd)) << screen.shown;
    // The message is out before the program waits for the key.
    EXPECT_EQ(screen.shownWhenWaiting, screen.shown);
}

TEST(Failures, OptionFourTellsAFailedSaveAfterItsClosingNotice) {
    ScratchFolder folder;
    const std::string path = folder.file("no-such-folder/datas.dat");
    const SharedScreen screen = runOnOneScreen("4 1 John Doe\n", path);
    EXPECT_EQ(screen.status, 1);
    const std::string message =
        "profiledesk: could not save the record to '" + path + "': No such file or directory\n";
    EXPECT_TRUE(screen.shown.ends_with(std::string(kClosing) +
                                       "profiledesk: the answers ended after 2 of 17\n" + message))
        << screen.shown;
    EXPECT_EQ(screen.shown.find(message), screen.shown.size() - message.size()) << "told more than once";
}

TEST(Failures, ARunThatFailsNothingEndsWithStatusZeroAndTellsNothing) {
    ScratchFolder folder;
    const SharedScreen screen = runOnOneScreen("2\n", folder.file("datas.dat"));
    EXPECT_EQ(screen.status, 0);
    EXPECT_TRUE(
        screen.shown.ends_with("Unable to open the stored(saved) 'data.dat' file" + std::string(kClosing)));
}

TEST(Failures, AFailedSaveEndsTheRunWithStatusOneAndAMessage) {
    testing::ScriptedRun run("1 John Doe\n");
    std::filesystem::create_directory(run.folder.file("datas.dat"));  // a folder where the file should be
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(run.err.str(),
              "profiledesk: the answers ended after 2 of 17\nprofiledesk: could not save the record to '" +
                  run.folder.file("datas.dat") + "': Is a directory\n");
    EXPECT_TRUE(run.out.str().ends_with(" ........> Kindly Press Any Key To Continue <........ \n"));
    EXPECT_EQ(run.keyWaits, 1);
}

TEST(Failures, AFileThatCannotBeReadEndsTheRunWithStatusOne) {
    testing::ScriptedRun run("2\n");
    std::filesystem::create_directory(run.folder.file("datas.dat"));
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(run.err.str(),
              "profiledesk: could not read '" + run.folder.file("datas.dat") + "': Is a directory\n");
}

TEST(Menu, OptionsOutsideOneToFourDoNothing) {
    for (const char* typed : {"7\n", "0\n", "-1\n", "x\n", "", "99999999999\n"}) {
        ScriptedRun run(typed);
        EXPECT_EQ(run.run(), 0) << typed;
        const auto lines = linesOf(run.out.str());
        ASSERT_EQ(lines.size(), 14U) << typed;
        EXPECT_EQ(lines[12], " ");
        EXPECT_EQ(lines[13], " ........> Kindly Press Any Key To Continue <........ ");
        EXPECT_EQ(run.keyWaits, 1);
        EXPECT_FALSE(std::filesystem::exists(run.folder.file("datas.dat")));
    }
}

TEST(Menu, OutputThatCannotBeWrittenEndsTheRunWithStatusOne) {
    ScriptedRun run("3\n");
    run.out.setstate(std::ios::badbit);
    EXPECT_EQ(run.run(), 1);
    EXPECT_EQ(run.err.str(), "profiledesk: could not write to standard output\n");
    EXPECT_EQ(run.keyWaits, 1);
}

TEST(Menu, GuidanceAReadsNothingFromInput) {
    ScriptedRun run("3\nleft alone\n");
    run.run();
    std::string rest;
    run.in >> rest;
    EXPECT_EQ(rest, "left");
}

TEST(Menu, FollowUpThatIsNotANumberSelectsNothing) {
    ScriptedRun run("4\nnope\n");
    run.run();
    EXPECT_EQ(run.out.str().find("Enter Your Firstname"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(run.folder.file("datas.dat")));
}

}  // namespace
}  // namespace profiledesk
