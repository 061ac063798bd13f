#pragma once
// The service's desktop notifications: org.freedesktop.Notifications on the
// session bus, through libdbus driven by kit's run loop (the connection's
// descriptors are kit::FdWatchers, its time-outs kit::Timers, its messages
// dispatched from posted work). No thread.
//
// show() answers at once whether the notice went to the desktop: false when
// there is no session bus or no notification server on it (running or
// startable), so that the caller can keep it in the log instead. The few
// questions to the bus itself wait at most busAnswerBound in all; the server's
// answer to Notify never blocks: it comes on the loop, and a failure then is
// logged with the notice's text.
//
// A notice may carry buttons (kit::NotificationAction). The server's
// ActionInvoked signal for one of our notices hands that button's address
// to onAction, once, on the loop; signals for other notices are ignored.
//
// The bus may go away at any moment: the connection is dropped then, and the
// next show() connects again. The bus address is the session's own
// (DBUS_SESSION_BUS_ADDRESS, else the systemd user bus in XDG_RUNTIME_DIR);
// no bus is ever started for the session.
#include "kit/core/Platform.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace serviceshell {

class BusNotifier {
public:
    using Actions = std::vector<kit::NotificationAction>;

    BusNotifier();
    ~BusNotifier();
    BusNotifier(const BusNotifier&) = delete;
    BusNotifier& operator=(const BusNotifier&) = delete;

    bool show(const std::string& title, const std::string& body, const Actions& actions = {});

    // The address of a chosen button (the service hands it to openAddress).
    std::function<void(const std::string& url)> onAction;

    // Opens a file:// address (an existing file or folder) or an http(s)
    // address with the desktop's opener (xdg-open, else gio open), as a
    // detached program given the address as one argument; false for any
    // other address or when no opener is installed.
    static bool openAddress(const std::string& url);

    // The key the server is given for the button at `index`.
    static std::string actionKey(size_t index) { return "quorvane-" + std::to_string(index); }

    static constexpr const char* appName = "Quorvane";
    static constexpr const char* appIcon = "quorvane";
    static constexpr int shownForMs = 8000;
    // The questions of one show() to the bus daemon (connecting, whether a
    // server is there), all together.
    static constexpr int busAnswerBound = 2000;
    // The server's answer to Notify, waited for on the loop.
    static constexpr int notifyAnswerBound = 25000;
    // Notices with buttons remembered for their ActionInvoked; the oldest goes first.
    static constexpr size_t rememberedNotices = 64;
    // Longer texts are cut (at a character's boundary).
    static constexpr size_t textBound = 4096;
    static constexpr size_t actionBound = 8;

    // Tests: whether a connection to the bus is held now.
    bool isConnected() const;

private:
    struct Bus;
    bool connect();
    void drop();

    std::shared_ptr<Bus> m_bus;
    std::string m_unreachable; // the address last found without a bus
    std::shared_ptr<BusNotifier*> m_self;
};

} // namespace serviceshell
