#pragma once
// The one seam between kit and a shell: every service a shell gives kit is
// here, and kit and the features reach them only through Platform::current().
//
//   run / openURL / terminate /  running the application, handing a URL to
//   showNotification             the desktop, ending, a desktop notification
//                                (virtual: the shell's own)
//   webEngineFactory             the engine behind each web view
//   movieBackend                 what really plays a movie
//   locationSource               the system's location service
//   makeRunLoopBackend           what drives the main run loop (virtual)
//   view observers               displays following the view tree
//
// A shell makes one Platform (or a subclass), fills in what it has, and
// installs it once before the application starts; tests do it through
// TestEnvironment. A service left empty falls back to kit's own: web views
// fail their loads, movies finish at once, the location comes from the
// environment, the loop polls. Main thread only.
//
// Platform sits in kit's lowest layer so that every layer can reach the
// shell; the services of the layers above (web engines, movies, view
// observers, the application) are held here by their interfaces, declared
// only, and defined in their own layers.
#include "kit/core/Token.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kit {

class Application;
class LocationSource;
class MoviePlayerBackend;
class RunLoopBackend;
class ViewObserver;
class WebEngine;
class WebView;

// A button on a desktop notification: its title, and the address handed to
// the system (Application::handOverURL) when it is chosen.
struct NotificationAction {
    std::string title;
    std::string url;
    bool operator==(const NotificationAction&) const = default;
};

// Makes the engine behind one web view (kit/web/WebEngine.h).
using WebEngineFactory = std::function<std::unique_ptr<WebEngine>(WebView&)>;

class Platform {
public:
    Platform();
    virtual ~Platform();
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    // The installed platform, or kit's own when none is.
    static Platform& current();
    // Installs `platform` (null: kit's own), and moves the main run loop onto
    // the backend it makes. The previous platform is let go.
    static void install(std::shared_ptr<Platform> platform);

    // Runs the application until it ends; returns the exit status.
    virtual int run(Application& app);
    // Hands a URL to the system (browser, mail program); false if nothing takes it.
    virtual bool openURL(const std::string& url);
    // The application asked to end.
    virtual void terminate(Application& app);
    // A desktop notification, with buttons where the desktop offers them;
    // false where the shell cannot show one.
    virtual bool showNotification(const std::string& title, const std::string& body,
        const std::vector<NotificationAction>& actions = {});
    // Whether the application's window is on screen: true until a shell that
    // shows one says otherwise. A change is told with
    // WindowShownChangedNotification, the platform as its object.
    static constexpr const char* WindowShownChangedNotification = "QuorvaneWindowShownChangedNotification";
    bool isWindowShown() const { return m_windowShown; }
    void setWindowShown(bool shown);
    // What drives the main run loop while this platform is installed.
    virtual std::unique_ptr<RunLoopBackend> makeRunLoopBackend();
    // Work that can wait until the window has shown its first frame; at once
    // where there is no window to wait for.
    virtual void afterFirstFrame(std::function<void()> work);

    void setWebEngineFactory(WebEngineFactory factory) { m_webEngineFactory = std::move(factory); }
    const WebEngineFactory& webEngineFactory() const { return m_webEngineFactory; }

    void setMovieBackend(std::shared_ptr<MoviePlayerBackend> backend) { m_movieBackend = std::move(backend); }
    MoviePlayerBackend* movieBackend() const { return m_movieBackend.get(); }

    // Null: back to the environment's source.
    void setLocationSource(std::shared_ptr<LocationSource> source) { m_locationSource = std::move(source); }
    LocationSource& locationSource();

    // Displays following the view tree, told in the order they were added.
    // The observer stays registered while the token lives: an observer keeps
    // its token as a member, so it is gone from the list before it dies.
    [[nodiscard]] Token addViewObserver(ViewObserver* observer);
    const std::vector<ViewObserver*>& viewObservers() const { return *m_viewObservers; }

private:
    WebEngineFactory m_webEngineFactory;
    bool m_windowShown { true };
    std::shared_ptr<MoviePlayerBackend> m_movieBackend;
    std::shared_ptr<LocationSource> m_locationSource;
    std::shared_ptr<std::vector<ViewObserver*>> m_viewObservers { std::make_shared<std::vector<ViewObserver*>>() };
};

} // namespace kit
