// quorvane-service: the owner of one device's transfers. It keeps the stored
// list, the clients and their control channel, the limits and the notices,
// and serves the views (the window, the headless shell) over a socket in
// the user's private runtime folder. A view that finds none starts it; it
// ends when a view asks (Exit: every transfer stops first), or once no
// transfer has a client and no view has been there for a while. Killed, it
// loses nothing: the clients run on and the next service takes them over.
#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/Platform.h"
#include "kit/core/RunLoop.h"
#include "kit/core/Timer.h"
#include "kit/core/UserDefaults.h"
#include "quorvane/Version.h"
#include "shells/service/BusNotifier.h"
#include "transfers/ServiceEndpoint.h"
#include "transfers/TransferService.h"

#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// Nothing to do this long (no client, no view): the service ends.
constexpr double idleEnd = 30;

class ServicePlatform : public kit::Platform {
public:
    ServicePlatform()
    {
        m_notifier.onAction = [](const std::string& url) { serviceshell::BusNotifier::openAddress(url); };
    }

    bool showNotification(const std::string& title, const std::string& body, const std::vector<kit::NotificationAction>& actions) override
    {
        if (m_notifier.show(title, body, actions))
            return true;
        // Without a desktop to tell, the log keeps the notice.
        std::string line = "Notice: " + title + ": " + body;
        for (auto& action : actions)
            line += " | " + action.title;
        kit::log(line);
        return false;
    }

private:
    serviceshell::BusNotifier m_notifier;
};

int g_signals = -1;

void usage()
{
    std::cerr << "usage: quorvane-service [--root DIR] [--verbose]\n"
                 "       quorvane-service --version\n"
                 "  --root DIR   the device laid under DIR, as the window's and the headless shell's --root\n"
                 "  --verbose    the log on standard error rather than the desktop's log\n"
                 "Started by the window or the headless shell when none answers; it ends by itself.\n";
}

} // namespace

int main(int argc, char** argv)
{
    std::string root;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--root" && i + 1 < argc)
            root = argv[++i];
        else if (a == "--verbose")
            verbose = true;
        else if (a == "--version") {
            std::cout << "quorvane-service " QUORVANE_VERSION "\n";
            return 0;
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else {
            std::cerr << "quorvane-service: unknown argument '" << a << "'\n";
            usage();
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (!verbose)
        kit::setLogDestination(kit::LogDestination::Desktop);
    if (!root.empty())
        kit::DeviceLayout::current().setRoot(root);
    auto& layout = kit::DeviceLayout::current();
    layout.prepare();
    kit::UserDefaults::standard().open(layout.settingsFile());
    kit::Platform::install(std::make_shared<ServicePlatform>());

    const auto path = ServiceEndpoint::socketPath();
    if (path.empty()) {
        std::cerr << "quorvane-service: no private runtime folder for the service's socket" << std::endl;
        return 1;
    }
    auto service = TransferService::create();
    if (auto served = service->serve(path); !served) {
        // Another service of this device answers: it is the one.
        std::cerr << "quorvane-service: " << served.error().message << std::endl;
        return 1;
    }
    kit::log("The transfer service serves " + path);

    // An end signal stops the loop; the clients run on for the next service.
    g_signals = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    for (int sig : { SIGTERM, SIGINT, SIGHUP })
        std::signal(sig, [](int) {
            uint64_t one = 1;
            ssize_t ignored = ::write(g_signals, &one, sizeof one);
            (void)ignored;
        });
    auto& loop = kit::RunLoop::main();
    bool ending = false, quitting = false;
    kit::FdWatcher signals(g_signals, kit::FdWatcher::Read, [&](unsigned) {
        kit::log("The transfer service ends on a signal; the transfers run on");
        ending = true;
        loop.stop();
    });
    service->endpoint()->onQuit = [&] { quitting = true; };

    service->restore();
    // Ends once asked to and every client has gone, or after a while with
    // nothing to do; checked every second.
    double idleSince = loop.now();
    auto watch = kit::Timer::scheduled(1.0, true, [&](kit::Timer&) {
        bool anyClient = false;
        for (auto& t : service->transfers())
            anyClient = anyClient || t.hasClient || t.queued;
        if (quitting && !anyClient && kit::ChildProcess::runningCount() == 0) {
            kit::log("The transfer service ends: asked to, and every transfer has stopped");
            return loop.stop();
        }
        if (anyClient || service->endpoint()->viewCount() > 0)
            idleSince = loop.now();
        else if (loop.now() - idleSince >= idleEnd) {
            kit::log("The transfer service ends: no transfer runs and no view is open");
            loop.stop();
        }
    });
    loop.run();
    watch->invalidate();
    (void)ending;
    service.reset();
    kit::Platform::install(nullptr);
    return 0;
}
