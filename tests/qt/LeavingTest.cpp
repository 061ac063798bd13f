// Leaving and ending, in the window: the one-time word that Quorvane keeps
// running, the question before Exit stops a transfer, the stopping notice on
// its own panel; addresses nothing on the desktop takes; no session bus
// started for the application; the terminal kept quiet.
#include "tests/support/LogCapture.h"
#include "QtTestSupport.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/DesktopNotifier.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/QtPlatform.h"

#include "app/HalvexAppDelegate.h"
#include "app/Quorvane.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/UserDefaults.h"
#include "kit/net/URLEscape.h"

#include <QDBusConnection>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace qtshell;

namespace {

// Sets an environment variable for a scope (unset: nullptr).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

void writeScript(const std::string& path, const std::string& body)
{
    std::ofstream(path) << "#!/bin/sh\n" << body;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

class LeavingTest : public AppInWindowTest {
protected:
    int loggedCount(const std::string& start)
    {
        return int(std::count_if(log.lines().begin(), log.lines().end(), [&](auto& l) { return l.rfind(start, 0) == 0; }));
    }

    testsupport::LogCapture log;
};

TEST_F(LeavingTest, ClosingTheWindowSaysOnceThatQuorvaneKeepsRunning)
{
    runApp([&](QtPlatform&, AppWindow& w) {
        answer(w, 0);
        w.close();
        QtPlatform::settle();
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(loggedCount(std::string(Quorvane::keepsRunningTitle) + ": "), 1);
        EXPECT_EQ(kit::UserDefaults::standard().stringForKey(Quorvane::keepsRunningKey), "Yes");
        w.showAgain();
        w.close();
        QtPlatform::settle();
        EXPECT_EQ(loggedCount(std::string(Quorvane::keepsRunningTitle) + ": "), 1) << "once per installation";
        EXPECT_FALSE(kit::Application::shared().isTerminating());
        w.showAgain();
    });
}

TEST_F(LeavingTest, ExitWhileATransferRunsAsksFirstAndTheStoppingNoticeStandsOnItsPanel)
{
    std::filesystem::create_directories(root + "/usr/bin");
    writeScript(root + "/usr/bin/ctorrent", "trap 'sleep 0.4; exit 0' TERM\nwhile :; do printf '\\n| 0/0/1 [1/8/1] 0MB,0MB | 1,0K/s | 0,0K E:0,1'; sleep 0.1; done\n");
    runApp([&](QtPlatform&, AppWindow& w) {
        answer(w, 0);
        auto& d = kit::UserDefaults::standard();
        d.setObject(root + "/x.torrent", "DownloadTorrent");
        d.setObject("x.torrent", "DownloadTorrentName");
        d.setObject("Yes", "DownloadTorrentBool");
        auto& tabs = *kit::Application::shared().delegateAs<HalvexAppDelegate>()->tabBarController;
        tabs.setSelectedIndex(3);
        QtPlatform::settle();
        answer(w, 1);
        ASSERT_TRUE(processUntil([] { return kit::ChildProcess::runningCount() == 1; }));
        processUntil([] { return false; }, 200); // the client sets its trap

        tabs.setSelectedIndex(0);
        kit::Application::shared().requestTermination(); // the Exit button's request
        QtPlatform::settle();
        ASSERT_NE(w.popups().shownPopup(), nullptr);
        EXPECT_EQ(w.popups().shownPopup()->message(), HalvexAppDelegate::exitQuestion);
        answer(w, 0);
        EXPECT_FALSE(kit::Application::shared().isTerminating()) << "Cancel keeps the transfer";
        EXPECT_EQ(kit::ChildProcess::runningCount(), 1u);

        kit::Application::shared().requestTermination();
        QtPlatform::settle();
        answer(w, 1);
        EXPECT_TRUE(kit::Application::shared().isTerminating());
        EXPECT_TRUE(w.isStopping());
        // Its own opaque panel, inside the window, over whatever page is shown.
        QLabel& panel = w.stoppingPanel();
        EXPECT_TRUE(panel.isVisible());
        EXPECT_TRUE(panel.text().startsWith(QStringLiteral("Stopping the transfer…")));
        EXPECT_TRUE(w.rect().contains(panel.geometry()));
        QImage shot = w.grab().toImage();
        const QPoint inside = panel.geometry().topLeft() + QPoint(panel.width() / 2, 6);
        EXPECT_EQ(shot.pixelColor(inside), QColor(40, 44, 52)) << "the panel is opaque";
        EXPECT_TRUE(processUntil([] { return kit::ChildProcess::runningCount() == 0; }, 20000));
    });
}

TEST(OpenURLTest, AnAddressIsHandedOnlyToAProgramThatTakesItAndNothingIsPrinted)
{
    testsupport::TempFolder bin;
    ScopedEnv path("PATH", bin.path().c_str());
    ScopedEnv browser("BROWSER", nullptr);
    EXPECT_EQ(QtPlatform::handlerCommand("https://payments.quorvane.example/x"), std::nullopt) << "no opener, no browser";
    EXPECT_EQ(QtPlatform::handlerCommand("mailto:?subject=a"), std::nullopt);
    QtPlatform platform(Options {});
    EXPECT_FALSE(platform.openURL("http://www.quorvane.example/"));

    // The desktop's opener that knows a mail program but no web browser.
    const std::string opened = bin / "opened";
    writeScript(bin / "xdg-open", "echo \"$1\" >> '" + opened + "'\necho noise; echo noise >&2\n");
    writeScript(bin / "xdg-mime", "[ \"$3\" = x-scheme-handler/mailto ] && echo mail.desktop\nexit 0\n");
    EXPECT_EQ(QtPlatform::handlerCommand("http://www.quorvane.example/"), std::nullopt);
    ASSERT_TRUE(platform.openURL("mailto:?subject=Torrent%20File"));
    EXPECT_TRUE(processUntil([&] { return testsupport::readFile(opened) == "mailto:?subject=Torrent%20File\n"; }));

    // A browser of the user's own, for web addresses.
    writeScript(bin / "my-browser", "exit 0\n");
    ScopedEnv user("BROWSER", "my-browser");
    auto command = QtPlatform::handlerCommand("http://www.quorvane.example/");
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->front(), QStringLiteral("xdg-open"));
}

TEST(OpenURLTest, AFileIsHandedOverByItsTypeAndAFolderToTheFileManager)
{
    testsupport::TempFolder bin;
    ScopedEnv path("PATH", bin.path().c_str());
    const std::string film = bin / "My Film #1.mkv";
    testsupport::writeFile(film, "x");
    const std::string url = kit::fileURLWithPath(film);
    EXPECT_EQ(QtPlatform::handlerCommand(url), std::nullopt) << "no opener";

    // The opener knows a player for the film's type and a file manager, but
    // nothing for "x-scheme-handler/file", as on most desktops.
    writeScript(bin / "xdg-open", "exit 0\n");
    writeScript(bin / "xdg-mime",
        "case \"$2\" in\n"
        "  filetype) echo video/x-matroska ;;\n"
        "  default) case \"$3\" in video/x-matroska) echo player.desktop ;; inode/directory) echo files.desktop ;; esac ;;\n"
        "esac\nexit 0\n");
    EXPECT_EQ(QtPlatform::handlerCommand(url), (QStringList { "xdg-open", QString::fromStdString(film) }));
    EXPECT_EQ(QtPlatform::handlerCommand(kit::fileURLWithPath(bin.path())), (QStringList { "xdg-open", QString::fromStdString(bin.path()) }));
    // A file that is gone, or of a type nothing opens, is nobody's.
    EXPECT_EQ(QtPlatform::handlerCommand(kit::fileURLWithPath(bin / "gone.mkv")), std::nullopt);
    writeScript(bin / "xdg-mime", "[ \"$2\" = filetype ] && echo application/x-unknown\nexit 0\n");
    EXPECT_EQ(QtPlatform::handlerCommand(url), std::nullopt);
}

TEST(SessionBusTest, NoDaemonIsStartedForTheApplicationWhereTheSessionHasNoBus)
{
    testsupport::TempFolder runtime;
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
    ScopedEnv dir("XDG_RUNTIME_DIR", runtime.path().c_str());
    DesktopNotifier::preventBusAutolaunch();
    EXPECT_EQ(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QLatin1String(DesktopNotifier::noBusAddress));
    EXPECT_FALSE(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("quorvane-test-nobus")).isConnected());
    QDBusConnection::disconnectFromBus(QStringLiteral("quorvane-test-nobus"));

    // A session's own bus is left alone.
    ScopedEnv set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus");
    DesktopNotifier::preventBusAutolaunch();
    EXPECT_EQ(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/run/user/1000/bus"));
}

TEST(QuietTerminalTest, TheWindowsLogGoesToTheDesktopsLogUnlessVerbose)
{
    testsupport::TempFolder folder;
    const std::string dir = folder.path();
    std::ofstream(dir + "/leave.txt") << "answer 0\nsuspend\n";
    auto run = [&](QStringList extra, QByteArray& err) {
        QProcess p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir));
        env.insert("XDG_STATE_HOME", QString::fromStdString(dir + "/state"));
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        p.setProcessEnvironment(env);
        p.start(QUORVANE_BIN, QStringList { "--root", QString::fromStdString(dir + "/device"), "--script", QString::fromStdString(dir + "/leave.txt") } + extra);
        EXPECT_TRUE(p.waitForFinished(60000));
        err = p.readAllStandardError();
        return p.exitCode();
    };
    QByteArray err;
    EXPECT_EQ(run({}, err), 0) << err.constData();
    EXPECT_FALSE(err.contains("Quorvane keeps running")) << err.constData();
    EXPECT_NE(testsupport::readFile(dir + "/state/quorvane/quorvane.log").find("Quorvane keeps running: "), std::string::npos);
    std::filesystem::remove_all(dir + "/device");
    EXPECT_EQ(run({ "--verbose" }, err), 0) << err.constData();
    EXPECT_TRUE(err.contains("Quorvane keeps running: ")) << err.constData();
}

} // namespace
