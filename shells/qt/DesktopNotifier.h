#pragma once
// Desktop notifications for the window shell: through the desktop's
// notification service on the session bus; where there is none (no bus, no
// service, an error), as the tray icon's message; where there is no tray
// either, only the log says it. The service is asked without blocking the
// window; its answer decides whether the tray steps in.
//
// A notification may carry buttons (kit::NotificationAction): the service
// shows them as its actions, and the one chosen (the service's
// ActionInvoked signal) hands its address to onAction. In the tray the same
// choices are the icon's menu, and a click on the message is the first.
#include "kit/core/Platform.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QMenu;
class QSystemTrayIcon;

namespace qtshell {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    enum class Route { Service, Tray, Nowhere };
    using Actions = std::vector<kit::NotificationAction>;

    DesktopNotifier();
    ~DesktopNotifier() override;

    void show(const QString& title, const QString& body, const Actions& actions = {});
    // The address of a chosen button goes here (the window hands it to the system).
    std::function<void(const std::string& url)> onAction;
    // The key the service is given for the button at `index`.
    static QString actionKey(size_t index) { return QStringLiteral("quorvane-%1").arg(index); }
    // The tray's menu, for tests; null until the tray has shown one with buttons.
    QMenu* trayMenu() const { return m_trayMenu.get(); }

    // Without a session bus, the first use of the bus would start a D-Bus
    // daemon for the session that outlives the application: point the bus
    // address at nothing instead. Call before the application object exists.
    static void preventBusAutolaunch();
    static constexpr const char* noBusAddress = "unix:path=/nonexistent/quorvane-no-session-bus";
    // Tests: how each notification went, once that is known.
    std::function<void(Route)> onShown;

public Q_SLOTS:
    // The service's signals: a button of notification `id` was chosen; it closed.
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

private:
    void showInTray(const QString& title, const QString& body, const Actions& actions);
    void listen();
    void choose(const kit::NotificationAction& action);

    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<QMenu> m_trayMenu;
    Actions m_trayActions;            // the buttons of the tray's latest message
    std::map<uint, Actions> m_shown;  // the service's notifications with buttons, by id
    bool m_listening { false };
};

} // namespace qtshell
