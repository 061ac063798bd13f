// The quorvane program: screenshots, bad options, and the second start that
// brings the running window back.
#include "QtTestSupport.h"

#include "shells/qt/Options.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>

using namespace qtshell;

namespace {
QProcessEnvironment offscreen(const std::string& runtimeDir)
{
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir));
    return env;
}

int runQuorvane(const QStringList& args, const std::string& runtimeDir, QByteArray* err = nullptr)
{
    QProcess p;
    p.setProcessEnvironment(offscreen(runtimeDir));
    p.start(QUORVANE_BIN, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (err)
        *err = p.readAllStandardError();
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
    QProcess first;
    first.setProcessEnvironment(offscreen(dir));
    first.start(QUORVANE_BIN, { "--root", QString::fromStdString(dir + "/device") });
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(processUntil([&] { return QFile::exists(QString::fromStdString(dir + "/quorvane.instance")); }, 30000));

    QByteArray err;
    EXPECT_EQ(runQuorvane({ "--root", QString::fromStdString(dir + "/device") }, dir, &err), 0);
    EXPECT_TRUE(err.contains("already running")) << err.constData();
    QByteArray firstErr;
    ASSERT_TRUE(processUntil([&] {
        first.waitForReadyRead(10);
        firstErr += first.readAllStandardError();
        return firstErr.contains("bringing the window back");
    }, 30000)) << firstErr.constData();

    // A signal ends it as its Exit button does.
    ::kill(pid_t(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitCode(), 0);
}
