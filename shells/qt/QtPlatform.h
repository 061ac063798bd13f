#pragma once
// The platform kit's application runs on in the window shell: Qt's event
// loop behind kit's run loop, the Qt web engine behind web views, Qt
// Multimedia behind the movie player (the system's location source joins
// after the first frame), the application window, URLs handed to the
// desktop, and the end of the application (which waits, visibly, for a
// transfer client that takes its time to stop). The player touches no Qt
// until something plays.
#include "kit/ui/Application.h"
#include "shells/qt/Options.h"

#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace qtshell {

class AppWindow;
class DesktopNotifier;
class RunLoopBridge;
class SingleInstance;

class QtPlatform : public kit::Platform {
public:
    explicit QtPlatform(Options options);
    ~QtPlatform() override;

    int run(kit::Application& app) override;
    // Hands the address to the program the desktop sets for its scheme
    // (through xdg-open), or for web addresses to the user's browser; false,
    // and nothing printed, when there is none.
    bool openURL(const std::string& url) override;
    void afterFirstFrame(std::function<void()> work) override;
    // The command that would open the address; nothing when no program takes it.
    static std::optional<QStringList> handlerCommand(const std::string& url);
    void terminate(kit::Application& app) override;
    bool showNotification(const std::string& title, const std::string& body,
        const std::vector<kit::NotificationAction>& actions = {}) override;
    std::unique_ptr<kit::RunLoopBackend> makeRunLoopBackend() override;

    // Tests: runs instead of Qt's loop once the window is shown; its result
    // is run()'s.
    std::function<int(QtPlatform&)> onRunning;
    // The instance lock taken by main (the window answers its show requests).
    void setSingleInstance(SingleInstance* instance) { m_instance = instance; }

    AppWindow* window() const { return m_window.get(); }
    // The main loop's backend while this platform is installed.
    static RunLoopBridge* bridge();
    // Runs Qt events and kit's posted work until nothing is left to do.
    static void settle();
    // Renders the window as shown; empty image if there is none.
    QImage renderWindow() const;
    // How long an ending application waits for its transfer to stop.
    double stopTimeout { 20 };

private:
    int runShown(kit::Application& app);
    int screenshot(kit::Application& app);
    void selectTab(int index);
    void finishWhenChildrenGone();

    Options m_options;
    std::unique_ptr<AppWindow> m_window;
    SingleInstance* m_instance { nullptr };
    std::unique_ptr<DesktopNotifier> m_notifier;
    QTimer m_stopPoll;
    double m_stopDeadline { 0 };
    bool m_running { false };
    bool m_quitRequested { false };
};

} // namespace qtshell
