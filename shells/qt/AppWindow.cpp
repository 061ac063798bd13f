#include "shells/qt/AppWindow.h"

#include "shells/qt/AppIcon.h"
#include "shells/qt/FirstFrame.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/Scene.h"
#include "shells/qt/StatusBar.h"

#include "kit/ui/Application.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>


namespace qtshell {

AppWindow::AppWindow(kit::Window& window)
{
    setFirstFramePending(true);
    setWindowTitle(QStringLiteral("Quorvane"));
    setWindowIcon(appIcon());
    setFixedSize(int(kit::Window::width), int(kit::Window::height));
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_scene = std::make_unique<Scene>(window, this);
    m_statusBar = new StatusBar(this);
    m_statusBar->setGeometry(0, 0, int(kit::Window::width), int(kit::Window::statusBarHeight));
    m_popups = new PopupLayer(this, *m_scene);
    m_popups->setGeometry(rect());
    // The notice stands on a panel of its own over a dimmed window, so that
    // it reads the same over any page.
    m_stopping = new QWidget(this);
    m_stopping->setObjectName(QStringLiteral("stoppingOverlay"));
    m_stopping->setAttribute(Qt::WA_StyledBackground);
    m_stopping->setStyleSheet(QStringLiteral("#stoppingOverlay { background: rgba(0, 0, 0, 150); }"));
    m_stopping->setGeometry(rect());
    m_stoppingText = new QLabel(QStringLiteral("Stopping the transfer…\n\nQuorvane ends as soon as the transfer client has said goodbye to its peers."), m_stopping);
    m_stoppingText->setObjectName(QStringLiteral("stoppingPanel"));
    m_stoppingText->setWordWrap(true);
    m_stoppingText->setAlignment(Qt::AlignCenter);
    m_stoppingText->setMargin(18);
    m_stoppingText->setStyleSheet(QStringLiteral("#stoppingPanel { background: rgb(40, 44, 52); color: white; font-size: 15px; "
                                                 "font-weight: bold; border: 1px solid rgb(120, 126, 138); border-radius: 10px; }"));
    m_stoppingText->setGeometry(30, (height() - 150) / 2, width() - 60, 150);
    m_stopping->hide();

    if (kit::Application::exists()) {
        auto& app = kit::Application::shared();
        m_statusBar->setNetworkActivity(app.isNetworkActivityIndicatorVisible());
        app.onStatusBarChanged = [this] { m_statusBar->setNetworkActivity(kit::Application::shared().isNetworkActivityIndicatorVisible()); };
        app.onPopupsChanged = [this] { m_popups->refresh(); };
        m_popups->refresh();
    }
}

AppWindow::~AppWindow()
{
    if (kit::Application::exists()) {
        auto& app = kit::Application::shared();
        app.onStatusBarChanged = nullptr;
        app.onPopupsChanged = nullptr;
    }
    // Peers go before the widgets that host them; the popups' carried views
    // are the scene's too.
    delete m_popups;
    m_popups = nullptr;
    m_scene.reset();
    setFirstFramePending(false);
}

void AppWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (m_quitAfterFirstFrame) {
        m_quitAfterFirstFrame = false;
        // The children paint in this same pass; quit once it is over. The work
        // that waits for the first frame is not started: it would only be torn down.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        return;
    }
    setFirstFramePending(false);
}

void AppWindow::showAgain()
{
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

void AppWindow::showStopping()
{
    m_stopping->show();
    m_stopping->raise();
    showAgain();
}

void AppWindow::enableTrayIcon()
{
    if (m_tray || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = new QSystemTrayIcon(appIcon(), this);
    m_tray->setToolTip(QStringLiteral("Quorvane"));
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("Show Quorvane"), this, [this] { showAgain(); });
    menu->addAction(QStringLiteral("Exit"), this, [this] {
        if (!kit::Application::exists())
            return;
        // A question about a running transfer must be seen to be answered.
        showAgain();
        kit::Application::shared().requestTermination();
    });
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            isVisible() ? hide() : showAgain();
    });
    m_tray->show();
}

void AppWindow::closeEvent(QCloseEvent* event)
{
    if (!kit::Application::exists() || kit::Application::shared().isTerminating()) {
        event->accept();
        return;
    }
    event->ignore();
    hide();
    // The application tells the user, once, that it keeps running.
    auto& app = kit::Application::shared();
    app.applicationSuspend(&app);
}

} // namespace qtshell
