// A .torrent file opened from the desktop while Quorvane runs: the second
// start ("quorvane FILE", the desktop file's Exec line) hands the file to the
// running window through the single-instance socket and leaves; the window
// comes back on its Transfer tab with the question, or with an alert for what
// cannot be downloaded.
#include "QtTestSupport.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/SingleInstance.h"

#include "app/HalvexAppDelegate.h"
#include "kit/core/DeviceLayout.h"
#include "kit/ui/Popup.h"
#include "kit/core/UserDefaults.h"

#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>

using namespace qtshell;

namespace {

struct SecondStart {
    int status { -1 };
    QByteArray err;
};

// Runs "quorvane ARGS" beside the running window (whose loop turns meanwhile).
SecondStart startAgain(const QStringList& args, const std::string& runtimeDir, const std::string& workDir)
{
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(QString::fromStdString(workDir));
    p.start(QUORVANE_BIN, args);
    SecondStart result;
    if (!p.waitForStarted() || !processUntil([&] { return p.state() == QProcess::NotRunning; }, 60000)) {
        p.kill();
        p.waitForFinished();
        return result;
    }
    result.err = p.readAllStandardError();
    result.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return result;
}

const kit::Popup* front(AppWindow& w)
{
    QtPlatform::settle();
    return w.popups().shownPopup();
}

std::string stored(const char* key)
{
    return kit::UserDefaults::standard().stringForKey(key).value_or("(none)");
}

} // namespace

TEST(OpenTorrentTest, ASecondStartHandsItsFileToTheRunningWindow)
{
    testsupport::TempFolder folder;
    const std::string dir = folder.path();
    const std::string torrent = dir + "/an album.torrent";
    std::ofstream(torrent) << "d8:announce30:http://127.0.0.1:6969/announce4:infod6:lengthi5e4:name4:song12:piece lengthi16384e6:pieces0:ee";
    std::ofstream(dir + "/page.torrent") << "<html>Not found</html>";

    kit::RunLoop::main().reset();
    kit::RunLoop::main().setClock(std::make_shared<kit::RealClock>());
    kit::DeviceLayout::current().setRoot(dir + "/device");
    auto platform = std::make_shared<QtPlatform>(Options {});
    SingleInstance instance(QString::fromStdString(dir + "/quorvane.instance"));
    platform->setSingleInstance(&instance);
    platform->onRunning = [&](QtPlatform&) {
        auto& w = *platform->window();
        press(w, "Close"); // the first-run notice
        auto& tabs = *kit::Application::shared().delegateAs<HalvexAppDelegate>()->tabBarController;
        EXPECT_EQ(tabs.selectedIndex(), 0);
        w.close(); // the user leaves; Quorvane runs on
        QtPlatform::settle();
        EXPECT_FALSE(w.isVisible());

        // Named relative to the second start's folder, as a terminal user would.
        auto second = startAgain({ "an album.torrent" }, dir, dir);
        EXPECT_EQ(second.status, 0) << second.err.constData();
        EXPECT_TRUE(second.err.contains("was handed to it")) << second.err.constData();
        EXPECT_TRUE(processUntil([&] { return front(w) != nullptr; }));
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(tabs.selectedIndex(), 3);
        auto* question = front(w);
        EXPECT_TRUE(question && question->message() == "Do you want to download:\n " + torrent) << (question ? question->message() : "no alert");
        EXPECT_EQ(stored("DownloadTorrent"), torrent);
        EXPECT_EQ(stored("DownloadTorrentName"), "an album.torrent");
        EXPECT_EQ(stored("DownloadTorrentBool"), "Yes");
        press(w, "No");
        EXPECT_EQ(stored("DownloadTorrentBool"), "No");

        // Again, with the Transfer tab already in front: the question still shows.
        second = startAgain({ QString::fromStdString(torrent) }, dir, "/");
        EXPECT_EQ(second.status, 0) << second.err.constData();
        EXPECT_TRUE(processUntil([&] { return front(w) != nullptr; }));
        question = front(w);
        EXPECT_TRUE(question && question->message() == "Do you want to download:\n " + torrent) << (question ? question->message() : "no alert");
        press(w, "No");

        // What cannot be downloaded is said in the window, and nothing is stored.
        struct Refused {
            QString argument;
            std::string title;
        };
        for (const auto& [argument, title] : { Refused { "magnet:?xt=urn:btmh:1220" + QString(64, 'a'), "Cannot open the magnet link" },
                 Refused { QString::fromStdString(dir + "/page.torrent"), "Not a .torrent file" },
                 Refused { QString::fromStdString(dir + "/gone.torrent"), "Cannot open the file" } }) {
            second = startAgain({ argument }, dir, dir);
            EXPECT_EQ(second.status, 0) << second.err.constData();
            EXPECT_TRUE(processUntil([&] { return front(w) != nullptr; }));
            auto* alert = front(w);
            EXPECT_TRUE(alert && alert->title() == title) << argument.toStdString() << ": " << (alert ? alert->title() : "no alert");
            EXPECT_EQ(stored("DownloadTorrentBool"), "No");
            press(w, "OK");
        }
        EXPECT_EQ(front(w), nullptr);
        // Two files at once are a mistake of the caller's, told on its terminal.
        second = startAgain({ "a.torrent", "b.torrent" }, dir, dir);
        EXPECT_EQ(second.status, 2);
        EXPECT_TRUE(second.err.contains("only one file")) << second.err.constData();
        return 0;
    };
    EXPECT_EQ(runInWindow(platform), 0);
}

TEST(OpenTorrentTest, TheCommandLineTakesOneFileAnywhere)
{
    auto o = Options::parse({ "--root", "/tmp/r", "a.torrent", "--tab", "2" });
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_EQ(o.open, "a.torrent");
    EXPECT_EQ(o.root, "/tmp/r");
    EXPECT_FALSE(o.oneShot());
    // After "--" a file may start with a dash.
    EXPECT_EQ(Options::parse({ "--", "-odd.torrent" }).open, "-odd.torrent");
    EXPECT_FALSE(Options::parse({ "a.torrent", "b.torrent" }).error.empty());
    EXPECT_FALSE(Options::parse({ "--odd.torrent" }).error.empty());
}
