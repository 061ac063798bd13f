#include "tests/support/TempFolder.h"
#include "kit/core/Log.h"
#include "kit/core/UserDefaults.h"

#include <filesystem>
#include <gtest/gtest.h>

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
