// The quorvane program: screenshots, bad options, and the second start that
// brings the running window back.
#include "QtTestSupport.h"
#include "tests/support/PageServer.h"

#include "shells/qt/Options.h"

#include <QFile>
#include <QImage>
#include <QProcess>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

using namespace qtshell;

namespace {
QProcessEnvironment offscreen(const std::string& runtimeDir)
{
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir));
    // The window keeps its log in the state folder: the test's, not the user's.
    env.insert("XDG_STATE_HOME", QString::fromStdString(runtimeDir + "/state"));
    return env;
}

int runQuorvane(const QStringList& args, const std::string& runtimeDir, QByteArray* err = nullptr, QByteArray* out = nullptr,
    const QString& scaleFactor = {})
{
    QProcess p;
    auto env = offscreen(runtimeDir);
    if (!scaleFactor.isEmpty())
        env.insert("QT_SCALE_FACTOR", scaleFactor);
    p.setProcessEnvironment(env);
    p.start(QUORVANE_BIN, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (err)
        *err = p.readAllStandardError();
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}
} // namespace

TEST(OptionsTest, ReadsTheCommandLineAndRejectsWhatItDoesNotKnow)
{
    auto o = Options::parse({ "--root", "/tmp/r", "--screenshot", "a.png", "--tab", "2" });
    EXPECT_TRUE(o.error.empty());
    EXPECT_EQ(o.root, "/tmp/r");
    EXPECT_EQ(o.screenshot, "a.png");
    EXPECT_EQ(o.tab, 2);
    EXPECT_FALSE(Options::parse({ "--tab", "two" }).error.empty());
    EXPECT_FALSE(Options::parse({ "--tab", "-1" }).error.empty());
    EXPECT_FALSE(Options::parse({ "--root" }).error.empty());
    EXPECT_FALSE(Options::parse({ "--frobnicate" }).error.empty());
    EXPECT_TRUE(Options::parse({ "--help" }).help);
    auto scripted = Options::parse({ "--script", "s.txt", "--verbose" });
    EXPECT_EQ(scripted.script, "s.txt");
    EXPECT_TRUE(scripted.verbose);
    EXPECT_TRUE(scripted.oneShot());
    EXPECT_FALSE(Options::parse({ "--script" }).error.empty());
}

// Share of the picture's middle (where an alert sits) in the alert's dark blue.
double alertBlueShare(const QImage& image)
{
    int blue = 0, all = 0;
    for (int y = image.height() / 3; y < image.height() * 2 / 3; y += 2)
        for (int x = image.width() / 4; x < image.width() * 3 / 4; x += 2) {
            QColor c = image.pixelColor(x, y);
            ++all;
            if (c.blue() > 60 && c.blue() > c.red() * 2 && c.red() < 60)
                ++blue;
        }
    return all ? double(blue) / all : 0;
}

TEST(CommandLineTest, AScriptRunsOnTheWindowAndPhotographsItsAlerts)
{
    testsupport::TempFolder folder;
    const std::string dir = folder.path();
    auto shot = [&](const char* name) { return dir + "/" + name; };
    {
        std::ofstream script(dir + "/first.txt");
        script << "# the first-run notice is in front on a new device root\n"
               << "alert\n"
               << "screenshot " << shot("notice.png") << "\n"
               << "answer 0\n"
               << "alert\n"
               << "screenshot " << shot("welcome.png") << "\n"
               << "tab 3\n"
               << "frobnicate\n"
               << "echo never\n";
    }
    QByteArray err, out;
    EXPECT_EQ(runQuorvane({ "--root", QString::fromStdString(dir + "/device"), "--script", QString::fromStdString(dir + "/first.txt") },
                  dir, &err, &out),
        1);
    EXPECT_TRUE(out.contains("UIAlertView title=\"Quorvane 2.1b\\nPlease Read!\"")) << out.constData();
    EXPECT_TRUE(out.contains("no alert")) << out.constData();
    EXPECT_FALSE(out.contains("never"));
    EXPECT_TRUE(err.contains("quorvane: line 8: frobnicate: unknown command")) << err.constData();
    QImage notice(QString::fromStdString(shot("notice.png"))), welcome(QString::fromStdString(shot("welcome.png")));
    ASSERT_FALSE(notice.isNull());
    ASSERT_FALSE(welcome.isNull());
    EXPECT_EQ(notice.width() * 3, notice.height() * 2);
    EXPECT_GT(alertBlueShare(notice), 0.3);
    EXPECT_LT(alertBlueShare(welcome), 0.05);

    // The notice shows once per root; a script that ends well ends with 0.
    {
        std::ofstream script(dir + "/second.txt");
        script << "alert\nscreenshot " << shot("missing/x.png") << "\n";
    }
    EXPECT_EQ(runQuorvane({ "--root", QString::fromStdString(dir + "/device"), "--script", QString::fromStdString(dir + "/second.txt") },
                  dir, &err, &out),
        1);
    EXPECT_TRUE(out.contains("no alert")) << out.constData();
    EXPECT_TRUE(err.contains("line 2: screenshot")) << err.constData();
    {
        std::ofstream script(dir + "/third.txt");
        script << "tab 2\nrows\n";
    }
    EXPECT_EQ(runQuorvane({ "--root", QString::fromStdString(dir + "/device"), "--script", QString::fromStdString(dir + "/third.txt") },
                  dir, &err, &out),
        0) << err.constData();
    EXPECT_TRUE(out.contains("0 0: ..")) << out.constData();
}

TEST(CommandLineTest, ScreenshotWritesAPictureOfTheWindow)
{
    testsupport::TempFolder folder;
    const std::string dir = folder.path();
    auto png = QString::fromStdString(dir + "/tab3.png");
    ASSERT_EQ(runQuorvane({ "--root", QString::fromStdString(dir + "/device"), "--screenshot", png, "--tab", "3" }, dir), 0);
    QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width() * 3, image.height() * 2); // 320 x 480 points, at any density
    EXPECT_GT(distinctColours(image), 20);

    QByteArray err;
    EXPECT_EQ(runQuorvane({ "--root", QString::fromStdString(dir + "/device"), "--screenshot", png, "--tab", "9" }, dir, &err), 2);
    EXPECT_TRUE(err.contains("no tab 9")) << err.constData();
    EXPECT_EQ(runQuorvane({ "--root", QString::fromStdString(dir + "/device"), "--screenshot", QString::fromStdString(dir + "/missing/x.png") }, dir, &err), 1);
    EXPECT_TRUE(err.contains("cannot write")) << err.constData();
    EXPECT_EQ(runQuorvane({ "--bogus" }, dir, &err), 2);
}

TEST(CommandLineTest, ASecondStartBringsTheRunningWindowBack)
{
    testsupport::TempFolder folder;
    const std::string dir = folder.path();
    // None runs yet: --if-running says so and starts nothing.
    EXPECT_EQ(runQuorvane({ "--if-running" }, dir), 1);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir + "/quorvane.instance")));
    QProcess first;
    first.setProcessEnvironment(offscreen(dir));
    first.start(QUORVANE_BIN, { "--root", QString::fromStdString(dir + "/device") });
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(processUntil([&] { return QFile::exists(QString::fromStdString(dir + "/quorvane.instance")); }, 30000));

    QByteArray err;
    EXPECT_EQ(runQuorvane({ "--root", QString::fromStdString(dir + "/device") }, dir, &err), 0);
    EXPECT_TRUE(err.contains("already running")) << err.constData();
    EXPECT_EQ(runQuorvane({ "--if-running" }, dir), 0);
    // The running one notes it in its log, the desktop's, not on the terminal.
    const std::string log = dir + "/state/quorvane/quorvane.log";
    ASSERT_TRUE(processUntil([&] {
        first.waitForReadyRead(10);
        return testsupport::readFile(log).find("A second start: bringing the window back") != std::string::npos;
    }, 30000)) << testsupport::readFile(log);
    EXPECT_FALSE(first.readAllStandardError().contains("bringing the window back"));

    // A signal ends it as its Exit button does.
    ::kill(pid_t(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitCode(), 0);
}

TEST(CommandLineTest, AScriptReadsAndFollowsTheLinksOfAPageInTheWindow)
{
    testsupport::PageServer site;
    ::setenv("QUORVANE_CONNECT_TO", ("releases.ubuntu.com:80:127.0.0.1:" + std::to_string(site.port())).c_str(), 1);
    testsupport::TempFolder folder;
    const std::string dir = folder.path();
    {
        std::ofstream script(dir + "/links.txt");
        script << "answer 0\ntab 1\nloaded 30\nlinks\nlink Next page\nloaded 30\nweb\nfollow /\nloaded 30\nweb\nlink nothing like it\n";
    }
    QByteArray err, out;
    EXPECT_EQ(runQuorvane({ "--root", QString::fromStdString(dir + "/device"), "--script", QString::fromStdString(dir + "/links.txt") },
                  dir, &err, &out),
        1);
    ::unsetenv("QUORVANE_CONNECT_TO");
    EXPECT_TRUE(out.contains("0: \"First torrent\" http://releases.ubuntu.com/files/first.torrent\n")) << out.constData();
    EXPECT_TRUE(out.contains("web http://releases.ubuntu.com/next.html ")) << out.constData();
    EXPECT_TRUE(out.contains("web http://releases.ubuntu.com/ title=\"Quorvane Test & Torrents\" loading=no back=yes")) << out.constData();
    EXPECT_TRUE(err.contains("line 11: link nothing like it: the page has no link showing")) << err.constData();
}
