#pragma once
#include "app/HalvexAppDelegate.h"
#include "app/QuorvaneMain.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Platform.h"
#include "kit/core/RunLoop.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/Popup.h"
#include "kit/ui/TabBarController.h"
#include "kit/ui/Window.h"
#include "shells/qt/AppWindow.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/QtPlatform.h"
#include "tests/support/TempFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPointingDevice>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

// The window's platform for the length of a test: Qt's loop behind kit's,
// the Qt web engine behind web views, Qt Multimedia behind the movie player.
struct WindowPlatform {
    WindowPlatform() { kit::Platform::install(std::make_shared<qtshell::QtPlatform>(qtshell::Options {})); }
    ~WindowPlatform() { kit::Platform::install(nullptr); }
    WindowPlatform(const WindowPlatform&) = delete;
    WindowPlatform& operator=(const WindowPlatform&) = delete;
};

// Runs Quorvane on `platform` as main() does (its onRunning drives the test
// while the window is shown), then uninstalls the platform; the exit status.
inline int runInWindow(const std::shared_ptr<qtshell::QtPlatform>& platform)
{
    kit::Platform::install(platform);
    char arg0[] = "quorvane";
    char* argv[] = { arg0, nullptr };
    int status = quorvaneMain(1, argv);
    kit::Platform::install(nullptr);
    return status;
}

// Turns Qt's loop (and with it kit's) until done() holds; false after the deadline.
inline bool processUntil(const std::function<bool()>& done, int deadlineMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > deadlineMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// A session bus of the test's own (dbus-daemon), ended with the object. Its
// address is empty when it did not start.
class PrivateBus {
public:
    static bool available() { return !QStandardPaths::findExecutable("dbus-daemon").isEmpty(); }
    PrivateBus()
    {
        m_daemon.start(QStandardPaths::findExecutable("dbus-daemon"),
            { "--session", "--nofork", "--print-address=1", "--address=unix:tmpdir=/tmp" });
        if (!m_daemon.waitForStarted(5000))
            return;
        if (processUntil([&] { return m_daemon.canReadLine(); }) || m_daemon.waitForReadyRead(5000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    const QString& address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

inline int distinctColours(const QImage& image)
{
    std::set<QRgb> seen;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            seen.insert(image.pixel(x, y));
    return int(seen.size());
}

// A click on the button titled `title` of the alert or sheet in front, as a
// person would; fails the test when none is shown or it has no such button.
inline void press(qtshell::AppWindow& w, const std::string& title)
{
    qtshell::QtPlatform::settle();
    auto* popup = w.popups().shownPopup();
    ASSERT_NE(popup, nullptr) << "no alert or sheet for " << title;
    for (int i = 0; i < popup->numberOfButtons(); ++i)
        if (popup->buttonTitleAtIndex(i) == title) {
            QTest::mouseClick(w.popups().buttonForIndex(i), Qt::LeftButton);
            qtshell::QtPlatform::settle();
            return;
        }
    FAIL() << "no button " << title;
}

// A touch screen for QTest::touchEvent, registered once for the whole run.
inline QPointingDevice* touchScreen()
{
    static QPointingDevice* device = QTest::createTouchDevice(QInputDevice::DeviceType::TouchScreen);
    return device;
}

// The whole application in its window on a new device root: each test starts
// Quorvane with runApp and drives it while the window is shown.
class AppInWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kit::RunLoop::main().reset();
        kit::RunLoop::main().setClock(std::make_shared<kit::RealClock>());
        kit::ViewAnimation::reset();
        kit::DeviceLayout::current().setRoot(root);
    }
    void TearDown() override
    {
        kit::Platform::install(nullptr);
        kit::RunLoop::main().reset();
        kit::Window::setScreenSize({ kit::Window::width, kit::Window::height });
    }
    // Starts Quorvane in its window and runs body while it is shown.
    void runApp(const std::function<void(qtshell::QtPlatform&, qtshell::AppWindow&)>& body)
    {
        auto platform = std::make_shared<qtshell::QtPlatform>(qtshell::Options {});
        platform->onRunning = [&](qtshell::QtPlatform& p) {
            body(p, *p.window());
            return 0;
        };
        EXPECT_EQ(runInWindow(platform), 0);
    }
    static kit::TabBarController& tabs()
    {
        return *kit::Application::shared().delegateAs<HalvexAppDelegate>()->tabBarController;
    }
    // Presses button `index` of the alert or sheet in front.
    static void answer(qtshell::AppWindow& w, int index)
    {
        auto* button = w.popups().buttonForIndex(index);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        qtshell::QtPlatform::settle();
    }

    testsupport::TempFolder folder;
    std::string root = folder.path();
};
