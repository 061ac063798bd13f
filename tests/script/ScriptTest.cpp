// The script language as a shell runs it: comments, failures with their line,
// the end of a script, and touches at window points that reach what a finger
// there would.
#include "tests/support/HeadlessRun.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using testsupport::TempFolder;

// Failures go to standard error: with `withErrors` they join the output.
testsupport::HeadlessRun run(const std::string& root, const std::string& script, bool withErrors = true)
{
    return testsupport::runHeadless(QUORVANE_HEADLESS, root, script, { .virtualTime = true, .mergeErrors = withErrors });
}

TEST(Script, CommentsAndBlankLinesAreSkippedAndAFailureNamesItsLine)
{
    TempFolder folder;
    auto result = run(folder.path(), "# a comment\n\nanswer 0\necho one\nno-such-command here\necho never\n");
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_TRUE(result.has("one")) << result.out;
    EXPECT_TRUE(result.has("quorvane-headless: line 5: no-such-command here:")) << result.out;
    EXPECT_FALSE(result.has("never")) << result.out;
}

TEST(Script, QuitEndsTheScriptWithStatusZero)
{
    TempFolder folder;
    auto result = run(folder.path(), "answer 0\nquit\necho after\n");
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_FALSE(result.has("after")) << result.out;
}

// A finger on a Files row does what `row` does; a drag over the list
// scrolls it with the finger and taps nothing. The table starts at window
// y 50 (status bar 20, path label 30); row 0 is 48 points, the rest 44.
TEST(Script, TouchesOnAListGoToItsTable)
{
    TempFolder folder;
    const std::string downloads = folder.path() + "/var/mobile/Library/Downloads";
    std::filesystem::create_directories(downloads);
    for (int i = 0; i < 15; ++i)
        std::ofstream(downloads + "/file" + std::to_string(i) + ".torrent") << "x";
    auto result = run(folder.path(),
        "answer 0\ntab 2\n"
        "echo -- by row\nrow 1\nalert\nanswer 4\n"
        "echo -- by finger\ntap-at 100 120\nalert\nanswer 4\n"
        "echo -- drag\ndump\ntouch-down 100 300\ntouch-move 100 250\ntouch-move 100 200\ntouch-up 100 200\nalert\ndump\n",
        false);
    ASSERT_EQ(result.status, 0) << result.out;
    auto between = [&](const std::string& from, const std::string& to) {
        auto a = result.out.find(from);
        auto b = result.out.find(to, a);
        return a == std::string::npos ? std::string() : result.out.substr(a + from.size(), b - a - from.size());
    };
    auto byRow = between("-- by row", "-- by finger");
    auto byFinger = between("-- by finger", "-- drag");
    EXPECT_NE(byRow.find("UIActionSheet title=\"file"), std::string::npos) << result.out;
    EXPECT_EQ(byRow, byFinger);

    // The row that stood at table y 92 stands 100 points higher after the drag.
    auto drag = between("-- drag", "\x01");
    auto rowAt92 = drag.find("UITableViewCell (0,92,320,44) \"");
    ASSERT_NE(rowAt92, std::string::npos) << result.out;
    auto name = drag.substr(rowAt92 + 31, drag.find('"', rowAt92 + 31) - rowAt92 - 31);
    EXPECT_NE(drag.find("UITableViewCell (0,-8,320,44) \"" + name + "\""), std::string::npos) << result.out;
    EXPECT_NE(drag.find("no alert"), std::string::npos) << result.out;
}

} // namespace
