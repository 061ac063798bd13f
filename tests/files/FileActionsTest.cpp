#include "files/FileActions.h"

#include <gtest/gtest.h>

using files::FileAction;
using files::ListingMode;

namespace {

TEST(FileActionsTest, ButtonIndexesByMode)
{
    const FileAction torrent[] = { FileAction::Download, FileAction::Mail, FileAction::Rename, FileAction::Delete, FileAction::Nothing };
    const FileAction all[] = { FileAction::Play, FileAction::Mail, FileAction::Rename, FileAction::Delete, FileAction::Nothing };
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(files::actionForButton(ListingMode::Torrent, i), torrent[i]) << i;
        EXPECT_EQ(files::actionForButton(ListingMode::AllEntries, i), all[i]) << i;
    }
    for (int i : { -1, 5, 99 }) {
        EXPECT_EQ(files::actionForButton(ListingMode::Torrent, i), FileAction::Nothing);
        EXPECT_EQ(files::actionForButton(ListingMode::AllEntries, i), FileAction::Nothing);
    }
}

TEST(FileActionsTest, MailWordingFollowsTheModeAndIsEscaped)
{
    EXPECT_EQ(files::mailURL(ListingMode::Torrent, "/d/My file.torrent"),
        "mailto:?subject=Torrent%20File%20from%20Quorvane&body=Here%20is%20the%20torrent%20file,%20sent%20from%20Quorvane"
        "&attachment=/d/My%20file.torrent");
    // A .torrent file reached by walking is sent with the file wording.
    EXPECT_EQ(files::mailURL(ListingMode::AllEntries, "/d/x.torrent"),
        "mailto:?subject=File%20from%20Quorvane&body=Here%20is%20the%20file,%20sent%20from%20Quorvane&attachment=/d/x.torrent");
    EXPECT_EQ(files::mailURL("S", "M", "/f"), "mailto:?subject=S&body=M&attachment=/f");
}

TEST(FileActionsTest, MailAttachmentKeepsItsWholePath)
{
    auto url = files::mailURL(ListingMode::AllEntries, "/d/Tom & Jerry #2 100%+1.avi");
    auto at = url.find("&attachment=");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(url.substr(at), "&attachment=/d/Tom%20%26%20Jerry%20%232%20100%25%2B1.avi");
    EXPECT_EQ(url.find('&', at + 1), std::string::npos);
}

struct RenameCase {
    ListingMode mode;
    const char* currentDir;
    const char* fullPath;
    const char* typed;
    const char* expected;
};

class RenameTargetTest : public testing::TestWithParam<RenameCase> { };
TEST_P(RenameTargetTest, Target)
{
    auto& c = GetParam();
    EXPECT_EQ(files::renameTarget(c.mode, c.currentDir, c.fullPath, c.typed), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, RenameTargetTest,
    testing::Values(
        // Torrent mode: stays in the listed folder, ".torrent" is added as typed.
        RenameCase { ListingMode::Torrent, "/dl/sub", "/dl/sub/a.torrent", "x", "/dl/sub/x.torrent" },
        // A name that ends in the extension already gets it once.
        RenameCase { ListingMode::Torrent, "/dl", "/dl/a.torrent", "x.torrent", "/dl/x.torrent" },
        RenameCase { ListingMode::AllEntries, "/dl", "/dl/a.avi", "b.avi", "/dl/b.avi" },
        RenameCase { ListingMode::AllEntries, "/dl", "/dl/a.avi", "b.torrent", "/dl/b.torrent.avi" },
        // A file without an extension gets none (no trailing ".").
        RenameCase { ListingMode::AllEntries, "/dl/sub", "/dl/sub/README", "NOTES", "/dl/sub/NOTES" },
        // A name of blanks only renames nothing; blanks around a name stay.
        RenameCase { ListingMode::Torrent, "/dl", "/dl/a.torrent", "", "" },
        RenameCase { ListingMode::Torrent, "/dl", "/dl/a.torrent", " \t ", "" },
        RenameCase { ListingMode::AllEntries, "/dl", "/dl/a.avi", "  ", "" },
        RenameCase { ListingMode::Torrent, "/dl", "/dl/a.torrent", " x ", "/dl/ x .torrent" },
        RenameCase { ListingMode::Torrent, "/", "//a.torrent", "x", "/x.torrent" },
        // All-entries mode: the file stays in the folder listed, keeping its extension.
        RenameCase { ListingMode::AllEntries, "/dl/sub", "/dl/sub/clip.avi", "holiday", "/dl/sub/holiday.avi" },
        RenameCase { ListingMode::AllEntries, "/elsewhere", "/elsewhere/a.tar.gz", "b", "/elsewhere/b.gz" },
        RenameCase { ListingMode::AllEntries, "/dl", "/dl/Season.1", "S1", "/dl/S1.1" },
        RenameCase { ListingMode::AllEntries, "/dl", "/dl/a.avi", "sub/b", "/dl/sub/b.avi" }));

TEST(FileActionsTest, NamesThatReachAnotherFolderAreRefused)
{
    for (auto name : { "../escaped", "sub/b", "/abs", "a/", ".", ".." })
        EXPECT_FALSE(files::isAcceptableFileName(name)) << name;
    for (auto name : { "x", "..x", "a.b", " x ", "...", "Ünïcode ✓" })
        EXPECT_TRUE(files::isAcceptableFileName(name)) << name;
}

TEST(FileActionsTest, TheRenameFieldStartsWithoutTheExtensionTheRenameAddsBack)
{
    EXPECT_EQ(files::nameForRenaming(ListingMode::Torrent, "ubuntu.iso.torrent"), "ubuntu.iso");
    EXPECT_EQ(files::nameForRenaming(ListingMode::Torrent, ".torrent"), ".torrent");
    EXPECT_EQ(files::nameForRenaming(ListingMode::AllEntries, "clip.avi"), "clip");
    EXPECT_EQ(files::nameForRenaming(ListingMode::AllEntries, "a.tar.gz"), "a.tar");
    EXPECT_EQ(files::nameForRenaming(ListingMode::AllEntries, "README"), "README");
}

TEST(FileActionsTest, DownloadWritesPathNameThenFlag)
{
    auto settings = files::downloadSettings("/dl/a b.torrent", "a b.torrent");
    ASSERT_EQ(settings.size(), 3u);
    EXPECT_EQ(settings[0], std::make_pair(std::string("DownloadTorrent"), std::string("/dl/a b.torrent")));
    EXPECT_EQ(settings[1], std::make_pair(std::string("DownloadTorrentName"), std::string("a b.torrent")));
    EXPECT_EQ(settings[2], std::make_pair(std::string("DownloadTorrentBool"), std::string("Yes")));
}

} // namespace
