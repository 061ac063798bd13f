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
// The squared steps of brightness between neighbouring pixels of a band of
// the picture (points scaled by `ratio`): a crisp edge counts in full at
// every density, an edge blown up and smoothed much less.
double edgeEnergy(const QImage& image, QRectF band, int ratio)
{
    const QRect r = QRectF(band.topLeft() * ratio, band.size() * ratio).toAlignedRect().intersected(image.rect());
    double energy = 0;
    for (int y = r.top(); y < r.bottom(); ++y)
        for (int x = r.left(); x < r.right(); ++x) {
            const int here = qGray(image.pixel(x, y));
            const int right = qGray(image.pixel(x + 1, y)) - here;
            const int below = qGray(image.pixel(x, y + 1)) - here;
            energy += right * right + below * below;
        }
    return energy;
}

// The ratio x ratio blocks of the band that are not one colour: none in a
// picture drawn at one pixel a point and blown up.
int mixedBlocks(const QImage& image, QRectF band, int ratio)
{
    int mixed = 0;
    for (int y = int(band.top()); y < int(band.bottom()); ++y)
        for (int x = int(band.left()); x < int(band.right()); ++x) {
            const QRgb first = image.pixel(x * ratio, y * ratio);
            bool same = true;
            for (int dy = 0; dy < ratio && same; ++dy)
                for (int dx = 0; dx < ratio && same; ++dx)
                    same = image.pixel(x * ratio + dx, y * ratio + dy) == first;
            mixed += same ? 0 : 1;
        }
    return mixed;
}

} // namespace

// Dense screens: at device pixel ratios 2 and 3 the window is drawn at the
// screen's pixels (the picture has ratio times the pixels each way), and its
// drawing (the status bar, the list, the tab bar's icons and titles) is as
// crisp as at one pixel a point, not blown up.
TEST(CommandLineTest, ADenseScreenGetsItsOwnPixels)
{
    testsupport::TempFolder folder;
    const std::string dir = folder.path();
    const std::string downloads = dir + "/device/var/mobile/Library/Downloads";
    std::filesystem::create_directories(downloads);
    for (int i = 0; i < 12; ++i)
        std::ofstream(downloads + "/file " + std::to_string(i) + ".torrent") << "X";
    auto shoot = [&](int ratio) {
        const auto png = QString::fromStdString(dir + "/files@" + std::to_string(ratio) + ".png");
        EXPECT_EQ(runQuorvane({ "--root", QString::fromStdString(dir + "/device"), "--screenshot", png, "--tab", "2" }, dir, nullptr,
                      nullptr, QString::number(ratio)),
            0);
        return QImage(png).convertToFormat(QImage::Format_RGB32);
    };
    const QImage one = shoot(1);
    ASSERT_EQ(one.size(), QSize(320, 480));
    // The status bar, the top of the list and the tab bar: the notice of a
    // first start dims the middle.
    const QRectF bands[] = { { 0, 0, 320, 20 }, { 0, 64, 320, 60 }, { 0, 431, 320, 49 } };
    for (auto& band : bands)
        ASSERT_GT(edgeEnergy(one, band, 1), 0) << "the band at " << band.y() << " shows something";
    // A crisp edge is `ratio` times as long in pixels, each step as steep;
    // blown up and smoothed, the steps flatten to 1/ratio; blown up and not
    // smoothed, every ratio x ratio block is one colour.
    auto crisp = [&](const QImage& dense, int ratio, std::string* why) {
        for (auto& band : bands) {
            const double energy = edgeEnergy(dense, band, ratio) / edgeEnergy(one, band, 1);
            const int mixed = mixedBlocks(dense, band, ratio);
            if (energy <= 0.6 * ratio || mixed <= int(band.width() * band.height() / 100)) {
                *why = "band at " + std::to_string(int(band.y())) + ": edges " + std::to_string(energy) + ", mixed blocks " + std::to_string(mixed);
                return false;
            }
        }
        return true;
    };
    for (int ratio : { 2, 3 }) {
        const QImage dense = shoot(ratio);
        ASSERT_EQ(dense.size(), QSize(320 * ratio, 480 * ratio)) << "at " << ratio;
        std::string why;
        EXPECT_TRUE(crisp(dense, ratio, &why)) << "ratio " << ratio << ", " << why;
        // The measure tells a picture blown up from one pixel a point.
        for (auto mode : { Qt::FastTransformation, Qt::SmoothTransformation })
            EXPECT_FALSE(crisp(one.scaled(one.size() * ratio, Qt::IgnoreAspectRatio, mode), ratio, &why)) << "ratio " << ratio;
    }
}

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
