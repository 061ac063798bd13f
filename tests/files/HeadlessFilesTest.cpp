// The downloads tab in the headless shell, end to end: the real start-up, the
// script commands, and a real transfer started from the list.
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef QUORVANE_HEADLESS

namespace {

using testsupport::TempFolder;
using testsupport::readFile;
using testsupport::writeFile;

namespace fs = std::filesystem;

struct Run {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the shell on a script; the device lies under root.
Run runHeadless(const TempFolder& tmp, const std::string& root, const std::string& script, bool virtualTime)
{
    auto scriptPath = tmp / "script.txt";
    auto errPath = tmp / "stderr.txt";
    writeFile(scriptPath, script);
    std::string cmd = std::string("'") + QUORVANE_HEADLESS + "' --root '" + root + "' " + (virtualTime ? "--virtual-time " : "")
        + "--script '" + scriptPath + "' 2>'" + errPath + "'";
    Run run;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return run;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        run.out.append(buf.data(), n);
    run.status = pclose(p);
    run.err = readFile(errPath);
    return run;
}

bool contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

TEST(HeadlessFilesTest, ListWalkMailRenamePlayAndDelete)
{
    TempFolder tmp;
    auto root = tmp / "device";
    auto downloads = root + "/var/mobile/Library/Downloads";
    writeFile(downloads + "/a b.torrent", "T");
    writeFile(downloads + "/Clips/x.avi", "X");
    // The first start greets with a notice; it goes first.
    auto run = runHeadless(tmp, root, R"(answer 0
tab 2
rows
row 1
alert
answer 1
row 1
answer 2
type renamed
alert
answer 1
echo -- after rename
rows
row 0
row-named Downloads
row-named Clips
row-named x.avi
alert
answer 0
movie-finish
row-named x.avi
answer 3
echo -- after delete
rows
quit
)", true);
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    EXPECT_TRUE(contains(run.out, "0 0: ...\n0 1: a b.torrent\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "UIActionSheet title=\"a b.torrent\"")) << run.out;
    EXPECT_TRUE(contains(run.out, "0: Download\n  1: eMail File\n  2: Rename\n  3: Delete\n  4: Cancel (cancel)")) << run.out;
    EXPECT_TRUE(contains(run.out, "openURL mailto:?subject=Torrent%20File%20from%20Quorvane&body=Here%20is%20the%20torrent%20file,%20sent%20from%20Quorvane&attachment="
        + downloads + "/a%20b.torrent\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "UIAlertView title=\"Enter new Filename\" message=\"\\n\"\n  0: Cancel\n  1: OK\n  field: \"renamed\"\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "-- after rename\n0 0: ...\n0 1: renamed.torrent\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "UIActionSheet title=\"x.avi\"")) << run.out;
    EXPECT_TRUE(contains(run.out, "0: Play\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "moviePlayer play file://" + downloads + "/Clips/x.avi\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "moviePlayer finished file://" + downloads + "/Clips/x.avi\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "-- after delete\n0 0: ...\n")) << run.out;
    EXPECT_FALSE(contains(run.out.substr(run.out.find("-- after delete")), "x.avi")) << run.out;
    EXPECT_TRUE(contains(run.err, "The File: a b.torrent")) << run.err;
    EXPECT_TRUE(contains(run.err, "1 tapped")) << run.err;
    EXPECT_EQ(readFile(downloads + "/renamed.torrent"), "T");
    EXPECT_FALSE(fs::exists(downloads + "/a b.torrent"));
    EXPECT_FALSE(fs::exists(downloads + "/Clips/x.avi"));
    EXPECT_TRUE(fs::is_directory(downloads + "/Clips"));
}

TEST(HeadlessFilesTest, RowsKeepALineBreakInANameOnOneLineAndABlankNameRenamesNothing)
{
    TempFolder tmp;
    auto root = tmp / "device";
    auto downloads = root + "/var/mobile/Library/Downloads";
    writeFile(downloads + "/two\nlines.torrent", "T");
    auto run = runHeadless(tmp, root, "answer 0\ntab 2\nrows\nrow 1\nanswer 2\ntype    \nanswer 1\nrows\n", true);
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    EXPECT_TRUE(contains(run.out, "0 0: ...\n0 1: two\u21B5lines.torrent\n0 0: ...\n0 1: two\u21B5lines.torrent\n")) << run.out;
    EXPECT_EQ(readFile(downloads + "/two\nlines.torrent"), "T");
    EXPECT_FALSE(fs::exists(downloads + "/   .torrent"));
}

TEST(HeadlessFilesTest, TheListFollowsKeysAndAFlickGlidesOn)
{
    TempFolder tmp;
    auto root = tmp / "device";
    auto downloads = root + "/var/mobile/Library/Downloads";
    for (int i = 0; i < 30; ++i)
        writeFile(downloads + "/f" + std::to_string(i) + ".torrent", "T");
    // "..." is 48 points, each file 44: 1,368 points in a list 381 high.
    std::string script = "answer 0\ntab 2\nscroll end\noffset\nscroll page-up\noffset\nscroll home\noffset\n"
                         "touch-down 160 300\n";
    for (int y = 290; y >= 240; y -= 10)
        script += "wait 0.0166667\ntouch-move 160 " + std::to_string(y) + "\n";
    script += "touch-up 160 240\noffset\nwait 0.05\noffset\nwait 5\noffset\n";
    auto run = runHeadless(tmp, root, script, true);
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    EXPECT_TRUE(contains(run.out, "offset 987 of 987\noffset 650 of 987\noffset 0 of 987\n")) << run.out;
    // 60 points in a tenth of a second: the list goes on some 300 points, slowing.
    EXPECT_TRUE(contains(run.out, "offset 60 of 987 gliding\n")) << run.out;
    auto last = run.out.substr(run.out.rfind("offset "));
    float end = std::stof(last.substr(7));
    EXPECT_GT(end, 300);
    EXPECT_LT(end, 420);
    EXPECT_EQ(last.find("gliding"), std::string::npos) << last;
}

TEST(HeadlessFilesTest, ScriptMistakesAreReported)
{
    TempFolder tmp;
    struct Case {
        const char* script;
        const char* message;
    } cases[] = {
        { "answer 0\ntab 2\nrow 5\n", "the table has no row 5" },
        { "answer 0\ntab 2\nrow x\n", "must be a whole number" },
        { "answer 0\ntab 2\nmovie-finish\n", "no movie is playing" },
        { "answer 0\ntab 2\nrow-named nothing\n", "no row shows \"nothing\"" },
        { "row 0\n", "is in front; answer it first" },
    };
    int n = 0;
    for (auto& c : cases) {
        auto run = runHeadless(tmp, tmp / ("device" + std::to_string(n++)), c.script, true);
        EXPECT_NE(run.status, 0) << c.script;
        EXPECT_TRUE(contains(run.err, c.message)) << c.script << run.err;
    }
}

// A tracker and a seeder on loopback (the shared swarm fixture), stopped when
// this object goes.
class Swarm {
public:
    Swarm(const std::string& work, const std::string& torrentOut)
    {
        int toChild[2], fromChild[2];
        if (pipe(toChild) || pipe(fromChild))
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            close(toChild[1]);
            close(fromChild[0]);
            execlp("python3", "python3", QUORVANE_SWARM, "--dir", work.c_str(), "--torrent-out", torrentOut.c_str(),
                "--size", "4194304", "--lifetime", "180", "--watch-stdin", nullptr);
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        m_stdin = toChild[1];
        m_stdout = fromChild[0];
    }
    ~Swarm()
    {
        if (m_stdin >= 0)
            close(m_stdin); // the fixture stops everything when its input closes
        if (m_stdout >= 0)
            close(m_stdout);
        if (m_pid > 0) {
            int status;
            for (int i = 0; i < 100 && waitpid(m_pid, &status, WNOHANG) == 0; ++i)
                poll(nullptr, 0, 100);
            if (waitpid(m_pid, &status, WNOHANG) == 0) {
                kill(m_pid, SIGTERM);
                waitpid(m_pid, &status, 0);
            }
        }
    }
    // The torrent's path once the seeder has announced; empty on failure.
    std::string waitReady(int timeoutMs)
    {
        std::string line;
        pollfd pfd { m_stdout, POLLIN, 0 };
        while (m_stdout >= 0 && poll(&pfd, 1, timeoutMs) > 0) {
            char c;
            if (read(m_stdout, &c, 1) != 1)
                return {};
            if (c != '\n') {
                line += c;
                continue;
            }
            if (line.rfind("ready ", 0) == 0)
                return line.substr(6);
            if (line.rfind("error", 0) == 0)
                return {};
            line.clear();
        }
        return {};
    }

private:
    pid_t m_pid { -1 };
    int m_stdin { -1 };
    int m_stdout { -1 };
};

TEST(HeadlessFilesTest, DownloadFromTheListStartsTheRealTransfer)
{
    for (auto tool : { "/usr/bin/ctorrent", "/usr/bin/opentracker" })
        if (!fs::exists(tool))
            GTEST_SKIP() << tool << " is not installed";
    TempFolder tmp;
    auto root = tmp / "device";
    auto downloads = root + "/var/mobile/Library/Downloads";
    fs::create_directories(downloads);
    fs::create_directories(root + "/usr/bin");
    fs::create_symlink("/usr/bin/ctorrent", root + "/usr/bin/ctorrent");
    Swarm swarm(tmp / "swarm", downloads);
    auto torrent = swarm.waitReady(60000);
    ASSERT_FALSE(torrent.empty()) << "the swarm did not start";
    auto name = fs::path(torrent).filename().string();

    auto run = runHeadless(tmp, root, "answer 0\ntab 2\nrows\nrow 1\nanswer 0\nalert\nanswer 1\nuntil 120 [64/64/64]\nquit\n", false);
    // 4 MiB in pieces of 64 KiB: the status line shows all 64 pieces held.
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    EXPECT_TRUE(contains(run.out, "0 1: " + name + "\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "UIAlertView title=\"Alert\" message=\"Do you want to download:\\n " + downloads + "/" + name + "\"")) << run.out;
    auto payload = name.substr(0, name.size() - std::string(".torrent").size());
    EXPECT_EQ(readFile(downloads + "/" + payload), readFile(tmp / ("swarm/seed/" + payload)));
}

} // namespace

#endif
