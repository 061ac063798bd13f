#pragma once
// Desktop notifications for the window shell: through the desktop's
// notification service on the session bus; where there is none (no bus, no
// service, an error), as the tray icon's message; where there is no tray
// either, only the log says it. The service is asked without blocking the
// window; its answer decides whether the tray steps in.
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSystemTrayIcon;

namespace qtshell {

class DesktopNotifier : public QObject {
public:
    enum class Route { Service, Tray, Nowhere };

    DesktopNotifier();
    ~DesktopNotifier() override;

    void show(const QString& title, const QString& body);
    // Without a session bus, the first use of the bus would start a D-Bus
    // daemon for the session that outlives the application: point the bus
    // address at nothing instead. Call before the application object exists.
    static void preventBusAutolaunch();
    static constexpr const char* noBusAddress = "unix:path=/nonexistent/quorvane-no-session-bus";
    // Tests: how each notification went, once that is known.
    std::function<void(Route)> onShown;

private:
    void showInTray(const QString& title, const QString& body);

    std::unique_ptr<QSystemTrayIcon> m_tray;
};

} // namespace qtshell
