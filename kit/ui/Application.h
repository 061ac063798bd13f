#pragma once
// The application object: one per process, reachable from anywhere through
// shared(). It holds the delegate (made by the main interface, as the
// handheld's main interface file does), the stack of shown
// popups, and the status bar's network-activity indicator. What only a shell
// can do (run the loop, hand a URL to the desktop, end the process) goes
// through the installed Platform (Platform.h).
#include "kit/core/Platform.h"
#include "kit/ui/Popup.h"
#include "kit/ui/Window.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kit {

class Application;
class TabBarController;

// A delegate's answer when the user asks to end the application: end now,
// do not end, or it asks the user first and answers later through
// Application::replyToApplicationShouldTerminate.
enum class TerminateReply { Now, Cancel, Later };

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching(Application&) { }
    virtual TerminateReply applicationShouldTerminate(Application&) { return TerminateReply::Now; }
    // The application ends now, before its children are told to end.
    virtual void applicationWillTerminate(Application&) { }

    // The controller of the application's tab bar, if it has one. Code that
    // switches tabs reaches it as shared(), then delegate(), then this.
    std::shared_ptr<TabBarController> tabBarController;
};

class Application {
public:
    static Application& shared();
    static bool exists();

    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    ApplicationDelegate* delegate() const { return m_delegate.get(); }
    template<typename T>
    T* delegateAs() const { return dynamic_cast<T*>(m_delegate.get()); }
    void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) { m_delegate = std::move(delegate); }

    // The window made key last (Window::makeKeyWindow), which keeps it.
    Window* keyWindow() const { return Window::keyWindow(); }

    bool isNetworkActivityIndicatorVisible() const { return m_networkActivity; }
    void setNetworkActivityIndicatorVisible(bool visible);
    std::function<void()> onStatusBarChanged;

    // The handler of the platform's suspend request (the user leaves the
    // application). The platform's own handling ends the application.
    virtual void applicationSuspend(Application* sender);
    void terminate();
    bool isTerminating() const { return m_terminating; }
    // The user asked to end the application (an Exit button or menu): the
    // delegate may ask first. terminate() ends without asking (a signal, the
    // end of a script).
    void requestTermination();
    void replyToApplicationShouldTerminate(bool shouldTerminate);
    bool isAskingToTerminate() const { return m_askingToTerminate; }

    bool openURL(const std::string& url);
    // openURL, and when nothing on the system takes the address, an alert
    // that says which kind of program is missing (a web browser, a mail
    // program). The answer is openURL's.
    bool handOverURL(const std::string& url);
    // The alert's title and message for an address nothing took.
    static std::pair<std::string, std::string> missingProgramText(const std::string& url);

    // Popups (alerts, action sheets) shown, front last.
    const std::vector<std::shared_ptr<Popup>>& popups() const { return m_popups; }
    Popup* frontPopup() const { return m_popups.empty() ? nullptr : m_popups.back().get(); }
    void pushPopup(std::shared_ptr<Popup> popup);
    void removePopup(Popup& popup);
    std::function<void()> onPopupsChanged;

private:
    std::shared_ptr<ApplicationDelegate> m_delegate;
    bool m_networkActivity { false };
    bool m_terminating { false };
    bool m_askingToTerminate { false };
    std::vector<std::shared_ptr<Popup>> m_popups;
};

// The platform's start: makes the application object, loads the main
// interface, tells the delegate that launching finished, and runs the
// installed platform until the application ends.
int ApplicationMain(int argc, char** argv, const std::function<std::unique_ptr<Application>()>& principalClass,
    const std::function<void(Application&)>& loadMainInterface);

} // namespace kit
