#include "shells/qt/QtPlatform.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/DesktopNotifier.h"
#include "shells/qt/FirstFrame.h"
#include "shells/qt/PhoneShell.h"
#include "shells/qt/QtScript.h"
#include "shells/qt/Modules.h"
#if !QUORVANE_QT_WEBENGINE
#include "kit/web/HeadlessWebEngine.h"
#endif
#include "shells/qt/RunLoopBridge.h"
#include "shells/qt/Scene.h"
#include "shells/qt/SingleInstance.h"

#include "app/HalvexAppDelegate.h"
#include "app/TorrentOpener.h"
#include "kit/core/ChildProcess.h"
#include "kit/ui/Application.h"
#include "kit/core/Clock.h"
#include "kit/core/Log.h"
#include "kit/gfx/Geometry.h"
#include "kit/core/RunLoop.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QElapsedTimer>
#include <QImage>
#include <QUrl>

#include <iostream>

namespace qtshell {

QtPlatform::QtPlatform(Options options)
    : m_options(std::move(options))
{
#if QUORVANE_QT_WEBENGINE
    setWebEngineFactory(Modules::webEngineFactory());
#else
    setWebEngineFactory(kit::HeadlessWebEngine::factory());
#endif
    setMovieBackend(Modules::movieBackend());
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
    else if (!m_options.oneShot() && !AppWindow::closingEnds())
        m_window->enableTrayIcon();
    int scriptStatus = 0;
    if (!m_options.script.empty())
        // Inside Qt's loop, so that the window paints and the web engine runs
        // while the script waits; its end is the application's end. It starts
        // once what waits for the first frame (the first-run notice) is there,
        // as a person would see it.
        qtshell::afterFirstFrame([this, &scriptStatus] {
            QTimer::singleShot(0, qApp, [this, &scriptStatus] {
                scriptStatus = runScript(*this, m_options.script, std::cout);
                kit::Application::shared().terminate();
            });
        });
    if (m_instance)
        m_instance->listen([this](const std::string& file) {
            kit::log("A second start: bringing the window back");
            if (m_window)
                m_window->showAgain();
            if (!file.empty()) {
                kit::log("A second start: opening " + file);
                TorrentOpener::open(file);
            }
        });
    // A phone's shell gives the window the screen below its bar.
    if (PhoneShell::isActive())
        m_window->showMaximized();
    else
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

namespace {

// Runs a short query and answers its first line; empty when it cannot run.
QString firstLineOf(const QString& program, const QStringList& arguments)
{
    if (QStandardPaths::findExecutable(program).isEmpty())
        return {};
    QProcess query;
    query.setStandardInputFile(QProcess::nullDevice());
    query.setStandardErrorFile(QProcess::nullDevice());
    query.start(program, arguments);
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished(1000);
        return {};
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(query.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0).trimmed();
}

// A browser the desktop's opener would fall back on for web addresses.
QString fallbackBrowser()
{
    for (const auto& candidate : qEnvironmentVariable("BROWSER").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (auto found = QStandardPaths::findExecutable(candidate.section(QLatin1Char(' '), 0, 0)); !found.isEmpty())
            return found;
    for (const char* name : { "x-www-browser", "www-browser" })
        if (auto found = QStandardPaths::findExecutable(QString::fromLatin1(name)); !found.isEmpty())
            return found;
    return {};
}

} // namespace

std::optional<QStringList> QtPlatform::handlerCommand(const std::string& address)
{
    const QUrl url(QString::fromStdString(address));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || scheme.isEmpty())
        return std::nullopt;
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (scheme == QLatin1String("file")) {
        // A file is opened by its type, not by the scheme: the opener, when
        // it knows a program for that type (a folder's is the file manager).
        const QString local = url.toLocalFile();
        const QFileInfo info(local);
        if (local.isEmpty() || !info.exists() || QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
            return std::nullopt;
        const QString type = info.isDir() ? QStringLiteral("inode/directory")
                                          : firstLineOf(QStringLiteral("xdg-mime"), { QStringLiteral("query"), QStringLiteral("filetype"), local });
        if (type.isEmpty() || firstLineOf(QStringLiteral("xdg-mime"), { QStringLiteral("query"), QStringLiteral("default"), type }).isEmpty())
            return std::nullopt;
        return QStringList { QStringLiteral("xdg-open"), local };
    }
    // The desktop's opener, when it knows a program for the scheme.
    if (!QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
        const bool known = !firstLineOf(QStringLiteral("xdg-mime"), { QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/") + scheme }).isEmpty();
        if (known || (web && !fallbackBrowser().isEmpty()))
            return QStringList { QStringLiteral("xdg-open"), url.toString(QUrl::FullyEncoded) };
    }
    if (web)
        if (auto browser = fallbackBrowser(); !browser.isEmpty())
            return QStringList { browser, url.toString(QUrl::FullyEncoded) };
    return std::nullopt;
}

void QtPlatform::afterFirstFrame(std::function<void()> work)
{
    qtshell::afterFirstFrame(std::move(work));
}

bool QtPlatform::openURL(const std::string& url)
{
    // Asked first, so that an address nobody takes is said in the window
    // (the caller's alert), not by an opener's complaints on the terminal.
    auto command = handlerCommand(url);
    if (!command) {
        kit::log("No program takes " + url);
        return false;
    }
    QProcess opener;
    opener.setProgram(command->front());
    opener.setArguments(command->mid(1));
    opener.setStandardInputFile(QProcess::nullDevice());
    opener.setStandardOutputFile(QProcess::nullDevice());
    opener.setStandardErrorFile(QProcess::nullDevice());
    // The opener finds the desktop's own bus, not the stand-in address that
    // keeps this process from starting one.
    auto environment = QProcessEnvironment::systemEnvironment();
    if (environment.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")) == QLatin1String(DesktopNotifier::noBusAddress))
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    opener.setProcessEnvironment(environment);
    return opener.startDetached();
}

bool QtPlatform::showNotification(const std::string& title, const std::string& body,
    const std::vector<kit::NotificationAction>& actions)
{
    if (!m_notifier) {
        m_notifier = std::make_unique<DesktopNotifier>();
        // A chosen button is the system's to open, with the alert when no program takes it.
        m_notifier->onAction = [](const std::string& url) { kit::Application::shared().handOverURL(url); };
    }
    m_notifier->show(QString::fromStdString(title), QString::fromStdString(body), actions);
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
        kit::log("The transfer client did not stop in " + kit::formatFloat(float(stopTimeout)) + " s; killing it");
        kit::ChildProcess::killAll();
    }
    m_stopPoll.stop();
    // exit(), not quit(): quit() asks the windows to close, and closing
    // the window means "keep running".
    QCoreApplication::exit(0);
}

} // namespace qtshell
