#include "shells/qt/AppWindow.h"

#include "shells/qt/AppIcon.h"
#include "shells/qt/FirstFrame.h"
#include "shells/qt/PeerAccessible.h"
#include "shells/qt/PhoneShell.h"
#include "shells/qt/PopupLayer.h"
#include "shells/qt/Scene.h"
#include "shells/qt/ViewPeer.h"
#include "shells/qt/StatusBar.h"

#include "kit/core/Platform.h"
#include "kit/ui/Application.h"
#include "kit/ui/TabBarController.h"
#include "kit/web/WebView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QShortcut>
#include <QMenu>
#include <QPainter>
#include <QResizeEvent>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>


namespace qtshell {

AppWindow::AppWindow(kit::Window& window)
{
    setFirstFramePending(true);
    setWindowTitle(QStringLiteral("Quorvane"));
    setWindowIcon(appIcon());
    // On a phone the shell sizes the window, and a turned phone with its
    // keyboard up leaves less than the application's smallest height: the
    // window takes it, and the screen shifts to keep the field in sight.
    setMinimumSize(int(kit::Window::minimumWidth), PhoneShell::isActive() ? 0 : int(kit::Window::minimumHeight));
    // The size the application was laid out for, unless the screen is already another.
    const auto screen = kit::Window::screenBounds();
    resize(int(screen.width()), int(screen.height()));
    setAttribute(Qt::WA_OpaquePaintEvent);
    installPeerAccessibility();
    m_window = window.weak_from_this();
    m_scene = std::make_unique<Scene>(window, this);
    // Keys act on what is in front: a screen coming over the one that has
    // the keyboard's focus takes it away from there (Tab then walks the new
    // screen), so that Space or Return cannot press a button it covers.
    m_scene->onScreenInFront = [this](ViewPeer& front) {
        if (auto* focused = QApplication::focusWidget(); focused && isAncestorOf(focused) && !front.isAncestorOf(focused))
            focused->clearFocus();
    };
    m_statusBar = new StatusBar(this);
    m_statusBar->setGeometry(0, 0, width(), int(kit::Window::statusBarHeight));
    // Under a phone's shell the system's status bar is shown: ours would be a second.
    if (kit::Window::isStatusBarHidden())
        m_statusBar->hide();
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

    // Ctrl+1 to Ctrl+4 choose a tab, as a tap on its item would, only while
    // the tabs are in front: a screen presented over them (a transfer's
    // details, the options, a landing page), whoever presented it, or an
    // alert takes the keys, and the tab underneath must not change behind it.
    for (int i = 0; i < 4; ++i) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)), this);
        connect(shortcut, &QShortcut::activated, this, [this, i] {
            if (!kit::Application::exists() || kit::Application::shared().frontPopup())
                return;
            auto* delegate = kit::Application::shared().delegate();
            auto shown = m_window.lock();
            auto* window = dynamic_cast<kit::Window*>(shown.get());
            if (!delegate || !delegate->tabBarController || !window || window->frontView() != &delegate->tabBarController->view())
                return;
            if (auto& bar = delegate->tabBarController->tabBar(); bar && bar->onSelect)
                bar->onSelect(i);
        });
    }
    // Back and forward work wherever the focus is, the page's own included
    // (a web page takes the keys it is given).
    for (auto [key, forward] : { std::pair { Qt::Key_Left, false }, std::pair { Qt::Key_Right, true } }) {
        auto* shortcut = new QShortcut(QKeyCombination(Qt::AltModifier, key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, key] { handleKey(key, Qt::AltModifier); });
    }

    // A field taking the keys on a screen the keyboard has made smaller.
    connect(qApp, &QApplication::focusChanged, this, [this] { keepFocusInView(); });

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

void AppWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // kit takes the new size first: the peers follow its frames.
    kit::Window::setScreenSize({ float(width()), float(height()) });
    m_statusBar->setGeometry(0, 0, width(), int(kit::Window::statusBarHeight));
    m_popups->setGeometry(rect());
    m_stopping->setGeometry(rect());
    keepFocusInView();
}

void AppWindow::keepFocusInView()
{
    auto* root = m_scene ? m_scene->rootPeer() : nullptr;
    if (!root)
        return;
    // The application goes no lower than its smallest size; what a phone's
    // keyboard leaves of a turned screen is less. The screen then shifts up
    // so that the field being typed into stays above the keyboard.
    int shift = 0;
    auto* focus = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    if (focus && root->isAncestorOf(focus) && focus->isVisible()) {
        constexpr int margin = 8;
        const QRect field(focus->mapTo(root, QPoint(0, 0)), focus->size());
        const int below = field.bottom() + 1 + margin - height();
        if (below > 0)
            shift = std::max(0, std::min(below, field.top() - margin));
    }
    if (root->y() != -shift)
        root->move(0, -shift);
}

bool AppWindow::focusNextPrevChild(bool next)
{
    // While the window is taken down (its scene and popups go first) Qt's own order serves.
    if (!m_popups || !m_scene)
        return QWidget::focusNextPrevChild(next);
    QWidget* front = nullptr;
    if (m_popups->isVisible())
        front = m_popups;
    else if (auto* window = kit::Window::keyWindow(); window && window->frontView())
        front = m_scene->peerFor(window->frontView());
    if (!front)
        return QWidget::focusNextPrevChild(next);
    QWidget* start = focusWidget() ? focusWidget() : this;
    QWidget* w = start;
    // Once round the chain at most.
    for (int steps = 0; steps < 100000; ++steps) {
        w = next ? w->nextInFocusChain() : w->previousInFocusChain();
        if (!w || w == start)
            break;
        if (front->isAncestorOf(w) && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
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

namespace {
kit::WebView* firstShownWebView(kit::View& view)
{
    if (view.isHidden())
        return nullptr;
    if (auto* web = dynamic_cast<kit::WebView*>(&view))
        return web;
    auto& subs = view.subviews();
    for (auto it = subs.rbegin(); it != subs.rend(); ++it)
        if (auto* web = firstShownWebView(**it))
            return web;
    return nullptr;
}
} // namespace

bool AppWindow::handleKey(int key, Qt::KeyboardModifiers modifiers)
{
    auto held = m_window.lock();
    auto* window = static_cast<kit::Window*>(held.get());
    // A question in front takes the keys; the screen behind it does not move.
    if (!window || (kit::Application::exists() && kit::Application::shared().frontPopup()))
        return false;
    modifiers &= ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier) {
        using Key = kit::TableView::ScrollKey;
        switch (key) {
        case Qt::Key_PageUp:
            return window->scrollFrontTable(Key::PageUp);
        case Qt::Key_PageDown:
            return window->scrollFrontTable(Key::PageDown);
        case Qt::Key_Home:
            return window->scrollFrontTable(Key::Home);
        case Qt::Key_End:
            return window->scrollFrontTable(Key::End);
        default:
            return false;
        }
    }
    if (modifiers == Qt::AltModifier && (key == Qt::Key_Left || key == Qt::Key_Right)) {
        auto* front = window->frontView();
        auto* web = front ? firstShownWebView(*front) : nullptr;
        if (!web)
            return false;
        if (key == Qt::Key_Left && web->canGoBack())
            web->goBack();
        else if (key == Qt::Key_Right && web->canGoForward())
            web->goForward();
        return true;
    }
    return false;
}

void AppWindow::keyPressEvent(QKeyEvent* event)
{
    if (handleKey(event->key(), event->modifiers())) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AppWindow::windowShown(bool shown)
{
    // What reads on its own only for a person's eyes (a transfer's output) waits for its tick meanwhile.
    kit::Platform::current().setWindowShown(shown);
}

void AppWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    windowShown(!isMinimized());
}

void AppWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    windowShown(false);
}

void AppWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        windowShown(isVisible() && !isMinimized());
}

namespace {
std::function<void()>& leaveOnClose()
{
    static std::function<void()> leave;
    return leave;
}
} // namespace

void AppWindow::setClosingEnds(std::function<void()> leave) { leaveOnClose() = std::move(leave); }

bool AppWindow::closingEnds() { return bool(leaveOnClose()); }

void AppWindow::closeEvent(QCloseEvent* event)
{
    if (!kit::Application::exists() || kit::Application::shared().isTerminating()) {
        event->accept();
        return;
    }
    if (closingEnds()) {
        // The service goes on with the transfers; starting Quorvane again shows them as they are.
        event->accept();
        leaveOnClose()();
        kit::Application::shared().terminate();
        return;
    }
    event->ignore();
    hide();
    // The application tells the user, once, that it keeps running.
    auto& app = kit::Application::shared();
    app.applicationSuspend(&app);
}

} // namespace qtshell
