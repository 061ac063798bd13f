// The whole application in the headless shell, against the loopback site:
// the welcome page and the first-run notice, then the browser tab, a typed
// address and a followed torrent link.
#include "tests/support/HeadlessRun.h"
#include "tests/web/WebTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/wait.h>

using namespace webtest;

namespace {

testsupport::HeadlessRun runHeadless(const std::string& root, const std::string& script)
{
    return testsupport::runHeadless(QUORVANE_HEADLESS, root, script, { .mergeErrors = true });
}

TEST(HeadlessShell, FollowsATorrentLinkAndKeepsTheFile)
{
    PageServer server(120);
    mapHosts(server.port());
    TempFolder folder;
    const std::string root = folder.path();

    auto first = runHeadless(root,
        "alert\n"
        "answer 1\n"
        "loaded 20\n"
        "web\n"
        "tab 1\n"
        "loaded 20\n"
        "web\n"
        "type sites.quorvane.test/\n"
        "return\n"
        "loaded 20\n"
        "web\n"
        "link First torrent\n"
        "loaded 20\n"
        "web\n"
        "until 20 Kept as page.torrent in Documents\n"
        "quit\n");
    EXPECT_EQ(first.status, 0) << first.out;
    auto has = [&](const std::string& text) { return first.out.find(text) != std::string::npos; };
    EXPECT_TRUE(has("title=\"Quorvane 2.1b\\nPlease Read!\"")) << first.out;
    EXPECT_TRUE(has("openURL https://payments.quorvane.example/cgi-bin/webscr?cmd=_s-xclick&hosted_button_id=")) << first.out;
    EXPECT_TRUE(has("web http://www.quorvane.example/iphone/welcome.html title=\"Welcome to Quorvane\" loading=no")) << first.out;
    EXPECT_TRUE(has("web http://releases.ubuntu.com title=\"Quorvane Test & Torrents\" loading=no")) << first.out;
    EXPECT_TRUE(has("web http://sites.quorvane.test/ title=\"Quorvane Test & Torrents\" loading=no back=yes")) << first.out;
    EXPECT_TRUE(has("web http://sites.quorvane.test/files/first.torrent title=\"\" loading=no")) << first.out;
    auto kept = readFile(root + "/var/mobile/Documents/page.torrent");
    EXPECT_EQ(kept, std::string("d8:announce24:http://tracker.test/first4:infod4:name5:firstee\0\xff\x01", 64));

    // The next start of the same installation shows no notice.
    auto second = runHeadless(root, "alert\nquit\n");
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_NE(second.out.find("no alert"), std::string::npos) << second.out;
}

TEST(HeadlessShell, AKeptTorrentIsOfferedDownloadFromTheBrowserBarAndFromTheFilesTab)
{
    PageServer server(120);
    mapHosts(server.port());
    TempFolder folder;
    const std::string root = folder.path();
    const std::string kept = root + "/var/mobile/Documents/page.torrent";

    auto run = runHeadless(root,
        "answer 0\n"
        "tab 1\n"
        "loaded 20\n"
        "type sites.quorvane.test/\n"
        "return\n"
        "loaded 20\n"
        "follow /files/good.torrent\n"
        "until 20 Kept as page.torrent in Documents\n"
        // The bar's Download asks the transfer tab's question about the kept file.
        "tap Download\n"
        "echo -- from the bar\n"
        "alert\n"
        "answer 0\n"
        // Walked to in the files tab, the same file offers Download first, not Play.
        "tab 2\n"
        "row 0\n"
        "row 0\n"
        "row-named Documents\n"
        "row-named page.torrent\n"
        "echo -- the sheet\n"
        "alert\n"
        "answer 0\n"
        "echo -- from the files tab\n"
        "alert\n"
        "answer 0\n"
        "quit\n");
    ASSERT_EQ(run.status, 0) << run.out;
    auto between = [&](const std::string& from, const std::string& to) {
        auto at = run.out.find(from);
        return at == std::string::npos ? std::string() : run.out.substr(at, run.out.find(to, at) - at);
    };
    const std::string question = "message=\"Do you want to download:\\n " + kept + "\"";
    EXPECT_NE(between("-- from the bar", "-- the sheet").find(question), std::string::npos) << run.out;
    const auto sheet = between("-- the sheet", "-- from the files tab");
    EXPECT_NE(sheet.find("title=\"page.torrent\""), std::string::npos) << run.out;
    EXPECT_NE(sheet.find("0: Download"), std::string::npos) << run.out;
    EXPECT_EQ(sheet.find("Play"), std::string::npos) << run.out;
    EXPECT_NE(between("-- from the files tab", "\nquit").find(question), std::string::npos) << run.out;
}

} // namespace
