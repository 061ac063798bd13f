#include "shells/qt/DesktopNotifier.h"

#include "shells/qt/AppIcon.h"

#include "kit/core/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace qtshell {

namespace {
constexpr const char* service = "org.freedesktop.Notifications";
constexpr const char* path = "/org/freedesktop/Notifications";
constexpr int shownForMs = 8000;
} // namespace

void DesktopNotifier::preventBusAutolaunch()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return;
    // The bus a systemd session keeps, where the library looks without being told.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists())
        return;
    qputenv("DBUS_SESSION_BUS_ADDRESS", noBusAddress);
}

DesktopNotifier::DesktopNotifier() = default;
DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::show(const QString& title, const QString& body, const Actions& actions)
{
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        showInTray(title, body, actions);
        return;
    }
    QStringList keysAndTitles;
    for (size_t i = 0; i < actions.size(); ++i)
        keysAndTitles << actionKey(i) << QString::fromStdString(actions[i].title);
    if (!actions.empty())
        listen();
    auto call = QDBusMessage::createMethodCall(service, path, service, "Notify");
    call << QStringLiteral("Quorvane") << uint(0) << QStringLiteral("quorvane") << title << body << keysAndTitles
         << QVariantMap() << int(shownForMs);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, title, body, actions] {
        watcher->deleteLater();
        QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            showInTray(title, body, actions);
            return;
        }
        if (!actions.empty())
            m_shown[reply.value()] = actions;
        if (onShown)
            onShown(Route::Service);
    });
}

void DesktopNotifier::listen()
{
    // The service's answers come as signals to everyone; ours are picked by id.
    if (m_listening)
        return;
    auto bus = QDBusConnection::sessionBus();
    m_listening = bus.connect(QString(), path, service, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    bus.connect(QString(), path, service, QStringLiteral("NotificationClosed"), this, SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifier::actionInvoked(uint id, const QString& key)
{
    auto it = m_shown.find(id);
    if (it == m_shown.end())
        return;
    auto actions = it->second;
    m_shown.erase(it);
    for (size_t i = 0; i < actions.size(); ++i)
        if (key == actionKey(i))
            return choose(actions[i]);
}

void DesktopNotifier::notificationClosed(uint id, uint)
{
    m_shown.erase(id);
}

void DesktopNotifier::choose(const kit::NotificationAction& action)
{
    kit::log("Notification action: " + action.title + " " + action.url);
    if (onAction)
        onAction(action.url);
}

void DesktopNotifier::showInTray(const QString& title, const QString& body, const Actions& actions)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable() || !QSystemTrayIcon::supportsMessages()) {
        kit::log("No desktop notification service and no tray: " + title.toStdString() + ": " + body.toStdString());
        if (onShown)
            onShown(Route::Nowhere);
        return;
    }
    if (!m_tray) {
        m_tray = std::make_unique<QSystemTrayIcon>(appIcon());
        m_tray->setToolTip(QStringLiteral("Quorvane"));
        // A click on the message is the first button of the latest one.
        connect(m_tray.get(), &QSystemTrayIcon::messageClicked, this, [this] {
            if (!m_trayActions.empty())
                choose(m_trayActions.front());
        });
    }
    m_trayActions = actions;
    // The same buttons, in the icon's menu, until another message replaces
    // them (one without buttons takes the menu away).
    std::unique_ptr<QMenu> menu;
    if (!actions.empty()) {
        menu = std::make_unique<QMenu>();
        for (const auto& action : actions) {
            auto* item = menu->addAction(QString::fromStdString(action.title));
            connect(item, &QAction::triggered, this, [this, action] { choose(action); });
        }
    }
    m_tray->setContextMenu(menu.get());
    m_trayMenu = std::move(menu);
    m_tray->show();
    m_tray->showMessage(title, body, QSystemTrayIcon::Information, shownForMs);
    if (onShown)
        onShown(Route::Tray);
}

} // namespace qtshell
