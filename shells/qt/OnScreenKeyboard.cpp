#include "shells/qt/OnScreenKeyboard.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace qtshell {

namespace {
OnScreenKeyboard* g_shared = nullptr;
constexpr const char* properties = "org.freedesktop.DBus.Properties";
} // namespace

OnScreenKeyboard::OnScreenKeyboard(const QDBusConnection& bus)
    : m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(QLatin1String(service), QLatin1String(path), QLatin1String(properties), QStringLiteral("PropertiesChanged"), this,
        SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    // Whether it is up already (another application asked for it).
    auto get = QDBusMessage::createMethodCall(QLatin1String(service), QLatin1String(path), QLatin1String(properties), QStringLiteral("Get"));
    get << QLatin1String(interface) << QStringLiteral("Visible");
    get.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (!reply.isError())
            setShown(reply.value().variant().toBool());
    });
}

OnScreenKeyboard::~OnScreenKeyboard()
{
    if (g_shared == this)
        g_shared = nullptr;
}

OnScreenKeyboard* OnScreenKeyboard::shared() { return g_shared; }
void OnScreenKeyboard::setShared(OnScreenKeyboard* keyboard) { g_shared = keyboard; }

void OnScreenKeyboard::setVisible(bool visible)
{
    // A repeat is not sent while the request is on its way or met; a
    // keyboard that its own button put away is asked again.
    if (m_sent && visible == m_requested && (visible == m_shown || m_pending > 0))
        return;
    m_requested = visible;
    m_sent = true;
    if (!m_bus.isConnected())
        return;
    auto call = QDBusMessage::createMethodCall(QLatin1String(service), QLatin1String(path), QLatin1String(interface), QStringLiteral("SetVisible"));
    call << visible;
    // Not the bus's business to start a keyboard that is not running.
    call.setAutoStartService(false);
    // No one waits for the answer; an error (no keyboard) is nobody's concern.
    ++m_pending;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        --m_pending;
    });
}

void OnScreenKeyboard::propertiesChanged(const QString& interfaceName, const QVariantMap& changed, const QStringList&)
{
    if (interfaceName != QLatin1String(interface))
        return;
    if (auto it = changed.find(QStringLiteral("Visible")); it != changed.end())
        setShown(it->toBool());
}

void OnScreenKeyboard::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    if (onShownChanged)
        onShownChanged(shown);
}

} // namespace qtshell
