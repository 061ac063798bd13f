#include "shells/qt/QtPlatform.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/DesktopNotifier.h"
#include "shells/qt/QtScript.h"
#include "shells/qt/QtMoviePlayer.h"
#include "shells/qt/QtWebEngine.h"
#include "shells/qt/RunLoopBridge.h"
#include "shells/qt/Scene.h"
#include "shells/qt/SingleInstance.h"

#include "app/HalvexAppDelegate.h"
#include "app/TorrentOpener.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/Clock.h"
#include "kit/gfx/Geometry.h"
#include "kit/core/RunLoop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QImage>
#include <QUrl>

#include <iostream>

namespace qtshell {

QtPlatform::QtPlatform(Options options)
    : m_options(std::move(options))
{
    setWebEngineFactory([](kit::WebView& view) { return std::make_unique<QtWebEngine>(view); });
    setMovieBackend(std::make_shared<QtMoviePlayer>());
    m_stopPoll.setInterval(50);
    QObject::connect(&m_stopPoll, &QTimer::timeout, [this] { finishWhenChildrenGone(); });
}

QtPlatform::~QtPlatform()
{
    m_notifier.reset();
    m_window.reset();
}

std::unique_ptr<kit::RunLoopBackend> QtPlatform::makeRunLoopBackend()
{
    return std::make_unique<RunLoopBridge>();
}

RunLoopBridge* QtPlatform::bridge()
{
    return dynamic_cast<RunLoopBridge*>(&kit::RunLoop::main().backend());
}

void QtPlatform::settle()
{
    auto& loop = kit::RunLoop::main();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!loop.hasPostedWork())
            break;
        loop.runDue();
    }
}

void QtPlatform::selectTab(int index)
{
    auto* delegate = kit::Application::shared().delegateAs<HalvexAppDelegate>();
    if (delegate && delegate->tabBarController)
        delegate->tabBarController->setSelectedIndex(index);
}

QImage QtPlatform::renderWindow() const
{
    if (!m_window)
        return {};
    return m_window->grab().toImage();
}

int QtPlatform::run(kit::Application& app)
{
    auto* window = app.keyWindow();
    if (!window) {
        std::cerr << "quorvane: the application made no window" << std::endl;
        return 1;
    }
    m_window = std::make_unique<AppWindow>(*window);
    int status = runShown(app);
    // The window's peers go while the views they show are still alive.
    m_window.reset();
    return status;
}

int QtPlatform::runShown(kit::Application& app)
{
    if (m_options.tab >= 0) {
        auto* delegate = app.delegateAs<HalvexAppDelegate>();
        int count = delegate && delegate->tabBarController ? int(delegate->tabBarController->viewControllers().size()) : 0;
        if (m_options.tab >= count) {
            std::cerr << "quorvane: there is no tab " << m_options.tab << " (the tabs are 0 to " << count - 1 << ")" << std::endl;
            return 2;
        }
        selectTab(m_options.tab);
    }
    // A file named on the command line, as the desktop opens one: it goes
    // over any --tab, since its question shows on the Transfer tab.
    if (!m_options.open.empty())
        TorrentOpener::open(m_options.open);
    if (!m_options.screenshot.empty())
        return screenshot(app);

    if (m_options.exitAfterFirstFrame)
        m_window->quitAfterFirstFrame();
    else if (!m_options.oneShot())
        m_window->enableTrayIcon();
    int scriptStatus = 0;
    if (!m_options.script.empty())
        // Inside Qt's loop, so that the window paints and the web engine runs
        // while the script waits; its end is the application's end.
        QTimer::singleShot(0, qApp, [this, &scriptStatus] {
            scriptStatus = runScript(*this, m_options.script, std::cout);
            kit::Application::shared().terminate();
        });
    if (m_instance)
        m_instance->listen([this](const std::string& file) {
            std::cerr << "quorvane: bringing the window back" << std::endl;
            if (m_window)
                m_window->showAgain();
            if (!file.empty()) {
                std::cerr << "quorvane: opening " << file << std::endl;
                TorrentOpener::open(file);
            }
        });
    m_window->show();
    m_running = true;
    int status;
    if (onRunning) {
        settle();
        status = onRunning(*this);
    } else {
        status = m_quitRequested ? 0 : QApplication::exec();
    }
    m_running = false;
    return scriptStatus ? scriptStatus : status;
}

int QtPlatform::screenshot(kit::Application&)
{
    m_window->show();
    settle();
    QImage image = renderWindow();
    if (image.isNull() || !image.save(QString::fromStdString(m_options.screenshot), "PNG")) {
        std::cerr << "quorvane: cannot write the screenshot " << m_options.screenshot << std::endl;
        return 1;
    }
    return 0;
}

bool QtPlatform::openURL(const std::string& url)
{
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

bool QtPlatform::showNotification(const std::string& title, const std::string& body)
{
    if (!m_notifier)
        m_notifier = std::make_unique<DesktopNotifier>();
    m_notifier->show(QString::fromStdString(title), QString::fromStdString(body));
    return true;
}

void QtPlatform::terminate(kit::Application&)
{
    m_quitRequested = true;
    if (!m_running)
        return;
    // kit has sent the transfer client its end; it may take seconds to say
    // goodbye to the tracker. Show that, and leave once it is gone.
    if (kit::ChildProcess::runningCount() > 0 && m_window)
        m_window->showStopping();
    m_stopDeadline = kit::RealClock().now() + stopTimeout;
    finishWhenChildrenGone();
    if (m_quitRequested && kit::ChildProcess::runningCount() > 0)
        m_stopPoll.start();
}

void QtPlatform::finishWhenChildrenGone()
{
    bool gone = kit::ChildProcess::runningCount() == 0;
    if (!gone && kit::RealClock().now() < m_stopDeadline)
        return;
    if (!gone) {
        // Left running, it would go on using the network and the downloads
        // folder with nothing to show or stop it.
        std::cerr << "quorvane: the transfer client did not stop in " << kit::formatFloat(float(stopTimeout)) << " s; killing it" << std::endl;
        kit::ChildProcess::killAll();
    }
    m_stopPoll.stop();
    // exit(), not quit(): quit() asks the windows to close, and closing
    // the window means "keep running".
    QCoreApplication::exit(0);
}

} // namespace qtshell
