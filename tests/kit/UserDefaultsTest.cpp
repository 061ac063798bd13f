#include "tests/support/TempFolder.h"
#include "kit/core/Log.h"
#include "kit/core/UserDefaults.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using testsupport::TempFolder;

TEST(UserDefaultsTest, ValuesPersistAcrossOpensWithAnyCharacters)
{
    TempFolder dir;
    const auto path = dir / "prefs/settings";
    const std::string odd = "tab\there\nnew line \\ back\\slash\r and ünïcode";
    {
        kit::UserDefaults d;
        d.open(path);
        EXPECT_FALSE(d.stringForKey("AlertBool"));
        d.setObject("Ja", "AlertBool");
        d.setObject(odd, "DownloadTorrent");
        d.setObject("", "Empty");
    }
    kit::UserDefaults again;
    again.open(path);
    EXPECT_EQ(again.stringForKey("AlertBool"), "Ja");
    EXPECT_EQ(again.stringForKey("DownloadTorrent"), odd);
    EXPECT_EQ(again.stringForKey("Empty"), "");
    EXPECT_FALSE(again.stringForKey("Missing"));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    // A value set again as it was leaves the file alone (each write is a
    // new file put in place, so its inode says); a new value, or a file
    // gone meanwhile, is written.
    auto inode = [&] {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    const auto before = inode();
    again.setObject("Ja", "AlertBool");
    EXPECT_EQ(inode(), before);
    again.setObject("Nein", "AlertBool");
    EXPECT_NE(inode(), before);
    std::filesystem::remove(path);
    again.setObject("Nein", "AlertBool");
    kit::UserDefaults third;
    third.open(path);
    EXPECT_EQ(third.stringForKey("AlertBool"), "Nein");
}

TEST(UserDefaultsTest, ACorruptFileIsSetAsideAndTheStoreStartsEmpty)
{
    TempFolder dir;
    const auto path = dir / "settings";
    const std::vector<std::string> corrupt {
        "garbage",
        "quorvane-settings 1\nno tab here\n",
        "quorvane-settings 1\nAlertBool\tJa", // cut short
        "quorvane-settings 1\nbad\\qescape\tx\n",
    };
    for (auto& text : corrupt) {
        testsupport::writeFile(path, text);
        std::vector<std::string> logged;
        auto old = kit::setLogSink([&](const std::string& l) { logged.push_back(l); return true; });
        kit::UserDefaults d;
        d.open(path);
        kit::setLogSink(old);
        EXPECT_TRUE(d.dictionary().empty()) << text;
        EXPECT_EQ(testsupport::readFile(path + ".corrupt"), text);
        EXPECT_EQ(logged.size(), 1u);
        d.setObject("No", "DownloadTorrentBool");
        kit::UserDefaults reread;
        reread.open(path);
        EXPECT_EQ(reread.stringForKey("DownloadTorrentBool"), "No");
    }
}

TEST(UserDefaultsTest, AnUnwritableFolderLosesNothingInMemoryAndSaysSo)
{
    TempFolder dir;
    testsupport::writeFile(dir / "blocker", "a file where a folder should be");
    std::vector<std::string> logged;
    auto old = kit::setLogSink([&](const std::string& l) { logged.push_back(l); return true; });
    kit::UserDefaults d;
    d.open(dir / "blocker/settings");
    d.setObject("Yes", "DownloadTorrentBool");
    kit::setLogSink(old);
    EXPECT_EQ(d.stringForKey("DownloadTorrentBool"), "Yes");
    EXPECT_FALSE(logged.empty());
}

} // namespace
