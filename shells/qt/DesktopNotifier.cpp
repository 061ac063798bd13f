#include "shells/qt/DesktopNotifier.h"

#include "shells/qt/AppIcon.h"

#include "kit/core/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
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

void DesktopNotifier::show(const QString& title, const QString& body)
{
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        showInTray(title, body);
        return;
    }
    auto call = QDBusMessage::createMethodCall(service, path, service, "Notify");
    call << QStringLiteral("Quorvane") << uint(0) << QStringLiteral("quorvane") << title << body << QStringList()
         << QVariantMap() << int(shownForMs);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, title, body] {
        watcher->deleteLater();
        if (watcher->isError()) {
            showInTray(title, body);
            return;
        }
        if (onShown)
            onShown(Route::Service);
    });
}

void DesktopNotifier::showInTray(const QString& title, const QString& body)
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
    }
    m_tray->show();
    m_tray->showMessage(title, body, QSystemTrayIcon::Information, shownForMs);
    if (onShown)
        onShown(Route::Tray);
}

} // namespace qtshell
