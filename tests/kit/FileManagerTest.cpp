#include "tests/support/TempFolder.h"
#include "kit/core/FileManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace {

using testsupport::TempFolder;
using testsupport::readFile;
using testsupport::writeFile;

namespace fs = std::filesystem;

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

class FileManagerTest : public testing::Test {
protected:
    kit::FileManager& fm = kit::FileManager::defaultManager();
    TempFolder tmp;
};

TEST_F(FileManagerTest, ListsEveryEntryOnceWithHiddenOnesAndWithoutDotEntries)
{
    writeFile(tmp / "a.torrent", "x");
    writeFile(tmp / ".hidden", "x");
    writeFile(tmp / "sub/inner", "x");
    fs::create_symlink("missing", tmp / "dangling");
    EXPECT_EQ(sorted(fm.directoryContentsAtPath(tmp.path())), (std::vector<std::string> { ".hidden", "a.torrent", "dangling", "sub" }));
}

TEST_F(FileManagerTest, KeepsTheFileSystemsOrder)
{
    for (int i = 0; i < 200; ++i)
        writeFile(tmp / std::to_string(i * 7919 % 1000), "");
    // The reference order is what readdir gives, read here through std::filesystem.
    std::vector<std::string> expected;
    for (auto& e : fs::directory_iterator(tmp.path()))
        expected.push_back(e.path().filename().string());
    EXPECT_EQ(fm.directoryContentsAtPath(tmp.path()), expected);
}

TEST_F(FileManagerTest, MissingOrUnlistableFolderListsAsNothing)
{
    writeFile(tmp / "file", "x");
    EXPECT_TRUE(fm.directoryContentsAtPath(tmp / "absent").empty());
    EXPECT_TRUE(fm.directoryContentsAtPath(tmp / "file").empty());
    EXPECT_TRUE(fm.directoryContentsAtPath("").empty());
    if (geteuid() != 0) { // the superuser reads any folder
        fs::create_directory(tmp / "locked");
        writeFile(tmp / "locked/x", "x");
        fs::permissions(tmp / "locked", fs::perms::none);
        EXPECT_TRUE(fm.directoryContentsAtPath(tmp / "locked").empty());
        fs::permissions(tmp / "locked", fs::perms::owner_all);
    }
}

TEST_F(FileManagerTest, MoveNeverReplacesAnything)
{
    writeFile(tmp / "a", "source");
    writeFile(tmp / "b", "target");
    fs::create_directory(tmp / "dir");
    fs::create_symlink("nowhere", tmp / "link");
    for (auto target : { "b", "dir", "link" }) {
        EXPECT_FALSE(fm.moveItemAtPath(tmp / "a", tmp / target)) << target;
        EXPECT_EQ(readFile(tmp / "a"), "source");
    }
    EXPECT_EQ(readFile(tmp / "b"), "target");
    EXPECT_TRUE(fs::is_directory(tmp / "dir"));
    EXPECT_TRUE(fs::is_symlink(tmp / "link"));
}

TEST_F(FileManagerTest, MoveRenamesFilesAndFoldersAndFailsSilentlyOtherwise)
{
    writeFile(tmp / "a.avi", "movie");
    writeFile(tmp / "d.x/inner", "in");
    fs::create_directory(tmp / "sub");
    EXPECT_TRUE(fm.moveItemAtPath(tmp / "a.avi", tmp / "sub/b.avi"));
    EXPECT_EQ(readFile(tmp / "sub/b.avi"), "movie");
    EXPECT_FALSE(fs::exists(tmp / "a.avi"));
    EXPECT_TRUE(fm.moveItemAtPath(tmp / "d.x", tmp / "e"));
    EXPECT_EQ(readFile(tmp / "e/inner"), "in");
    // Source gone, or the target's folder missing: nothing happens.
    EXPECT_FALSE(fm.moveItemAtPath(tmp / "a.avi", tmp / "c.avi"));
    EXPECT_FALSE(fm.moveItemAtPath(tmp / "sub/b.avi", tmp / "nofolder/b.avi"));
    EXPECT_EQ(readFile(tmp / "sub/b.avi"), "movie");
    // Onto itself: already there, nothing replaced.
    EXPECT_FALSE(fm.moveItemAtPath(tmp / "sub/b.avi", tmp / "sub/b.avi"));
    EXPECT_EQ(readFile(tmp / "sub/b.avi"), "movie");
}

TEST_F(FileManagerTest, RemoveTakesFoldersWithContentsButNotLinkTargets)
{
    writeFile(tmp / "Season.1/e1.avi", "1");
    writeFile(tmp / "Season.1/deep/e2.avi", "2");
    writeFile(tmp / "keep/file", "k");
    fs::create_directory_symlink(tmp / "keep", tmp / "Season.1/link");
    EXPECT_TRUE(fm.removeItemAtPath(tmp / "Season.1"));
    EXPECT_FALSE(fs::exists(tmp / "Season.1"));
    EXPECT_EQ(readFile(tmp / "keep/file"), "k");
    EXPECT_FALSE(fm.removeItemAtPath(tmp / "Season.1"));
    fs::create_symlink(tmp / "keep/file", tmp / "l");
    EXPECT_TRUE(fm.removeItemAtPath(tmp / "l"));
    EXPECT_EQ(readFile(tmp / "keep/file"), "k");
}

} // namespace
