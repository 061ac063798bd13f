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
    Tap::Kind kind;
    const char* fullPath;
    const char* nextDir;
};

class DecideTapTest : public testing::TestWithParam<TapCase> { };

TEST_P(DecideTapTest, Decides)
{
    auto& c = GetParam();
    auto tap = files::decideTap(c.dir, c.row, c.entry);
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
        TapCase { "/var/mobile/Library/Downloads", 0, "...", Tap::Kind::Parent, "/var/mobile/Library/Downloads/...", "/var/mobile/Library" },
        TapCase { "/var", 0, "...", Tap::Kind::Parent, "/var/...", "/" },
        TapCase { "/", 0, "...", Tap::Kind::Parent, "//...", "/" },
        // At "/" the components are joined as they are; "..." from there still reaches "/".
        TapCase { "/", 3, "bin", Tap::Kind::Enter, "//bin", "//bin" },
        TapCase { "//bin", 0, "...", Tap::Kind::Parent, "//bin/...", "/" },
        // Extension decides, not the kind of entry.
        TapCase { "/d", 1, "Movies", Tap::Kind::Enter, "/d/Movies", "/d/Movies" },
        TapCase { "/d", 1, "README", Tap::Kind::Enter, "/d/README", "/d/README" },
        TapCase { "/d", 1, "name.", Tap::Kind::Enter, "/d/name.", "/d/name." },
        TapCase { "/d", 2, "Season.1", Tap::Kind::FileActions, "/d/Season.1", "" },
        TapCase { "/d", 2, "a.b.torrent", Tap::Kind::FileActions, "/d/a.b.torrent", "" },
        TapCase { "/d", 2, ".hidden", Tap::Kind::FileActions, "/d/.hidden", "" },
        // A real entry named "..." below row 0 is entered like any folder.
        TapCase { "/d", 4, "...", Tap::Kind::Enter, "/d/...", "/d/..." }));

} // namespace
