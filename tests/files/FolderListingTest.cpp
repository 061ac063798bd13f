#include "files/FolderListing.h"

#include <gtest/gtest.h>

using files::ListingMode;
using files::Tap;

namespace {

TEST(FolderListingTest, TorrentModeKeepsOnlyTorrentFilesInTheirOrder)
{
    std::vector<std::string> names { "z.torrent", "movie.avi", "a.b.c.torrent", "torrent", ".torrent",
        "x.torrent.part", "UP.TORRENT", "folder", "b.torrent" };
    EXPECT_EQ(files::filterEntries(names, ListingMode::Torrent),
        (std::vector<std::string> { "z.torrent", "a.b.c.torrent", ".torrent", "b.torrent" }));
    EXPECT_EQ(files::filterEntries(names, ListingMode::AllEntries), names);
    EXPECT_TRUE(files::filterEntries({ "a.avi", "b" }, ListingMode::Torrent).empty());
}

TEST(FolderListingTest, RowsStartWithTheParentRow)
{
    EXPECT_EQ(files::rowsForEntries({}), (std::vector<std::string> { "..." }));
    EXPECT_EQ(files::rowsForEntries({ "b", "a" }), (std::vector<std::string> { "...", "b", "a" }));
}

struct TapCase {
    const char* dir;
    int row;
    const char* entry;
    bool isFolder;
    Tap::Kind kind;
    const char* fullPath;
    const char* nextDir;
    const char* top = "/";
};

class DecideTapTest : public testing::TestWithParam<TapCase> { };

TEST_P(DecideTapTest, Decides)
{
    auto& c = GetParam();
    auto tap = files::decideTap(c.dir, c.row, c.entry, c.isFolder, c.top);
    EXPECT_EQ(tap.kind, c.kind);
    EXPECT_EQ(tap.file, c.entry);
    EXPECT_EQ(tap.fullPath, c.fullPath);
    if (c.kind != Tap::Kind::FileActions) {
        EXPECT_EQ(tap.nextDir, c.nextDir);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DecideTapTest,
    testing::Values(
        // "..." goes up, above the downloads folder, and stays at "/".
        TapCase { "/var/mobile/Library/Downloads", 0, "...", false, Tap::Kind::Parent, "/var/mobile/Library/Downloads/...", "/var/mobile/Library" },
        TapCase { "/var", 0, "...", false, Tap::Kind::Parent, "/var/...", "/" },
        TapCase { "/", 0, "...", false, Tap::Kind::Parent, "/...", "/" },
        // Under a device root, "..." stops at that root.
        TapCase { "/tmp/dev", 0, "...", false, Tap::Kind::Parent, "/tmp/dev/...", "/tmp/dev", "/tmp/dev" },
        TapCase { "/tmp/dev/var", 0, "...", false, Tap::Kind::Parent, "/tmp/dev/var/...", "/tmp/dev", "/tmp/dev" },
        // At "/" one slash joins the folder and the name.
        TapCase { "/", 3, "bin", true, Tap::Kind::Enter, "/bin", "/bin" },
        TapCase { "/d/", 3, "bin", true, Tap::Kind::Enter, "/d/bin", "/d/bin" },
        // What the entry is decides, not its name.
        TapCase { "/d", 1, "Movies", true, Tap::Kind::Enter, "/d/Movies", "/d/Movies" },
        TapCase { "/d", 1, "README", false, Tap::Kind::FileActions, "/d/README", "" },
        TapCase { "/d", 1, "name.", false, Tap::Kind::FileActions, "/d/name.", "" },
        TapCase { "/d", 2, "Season.1", true, Tap::Kind::Enter, "/d/Season.1", "/d/Season.1" },
        TapCase { "/d", 2, ".demo", true, Tap::Kind::Enter, "/d/.demo", "/d/.demo" },
        TapCase { "/d", 2, "a.b.torrent", false, Tap::Kind::FileActions, "/d/a.b.torrent", "" },
        TapCase { "/d", 2, ".hidden", false, Tap::Kind::FileActions, "/d/.hidden", "" },
        // A real entry named "..." below row 0 is entered like any folder.
        TapCase { "/d", 4, "...", true, Tap::Kind::Enter, "/d/...", "/d/..." }));

TEST(FolderListingTest, DevicePathsDropTheFolderTheDeviceIsLaidUnder)
{
    EXPECT_EQ(files::devicePathOf("/tmp/dev/var/mobile", "/tmp/dev"), "/var/mobile");
    EXPECT_EQ(files::devicePathOf("/tmp/dev", "/tmp/dev"), "/");
    EXPECT_EQ(files::devicePathOf("/tmp/device", "/tmp/dev"), "/tmp/device");
    EXPECT_EQ(files::devicePathOf("/home/me/Downloads", ""), "/home/me/Downloads");
}

} // namespace
