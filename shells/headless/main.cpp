// quorvane-headless: runs Quorvane on the model, without a display, driven by
// an automation script.
#include "app/QuorvaneMain.h"
#include "app/TorrentOpener.h"
#include "kit/ui/Application.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/InstanceLock.h"
#include "kit/core/Log.h"
#include "kit/web/HeadlessWebEngine.h"
#include "kit/ui/MoviePlayer.h"
#include "kit/ui/Window.h"
#include "kit/core/RunLoop.h"
#include "shells/script/Script.h"
#include "transfers/ServiceEndpoint.h"
#include "transfers/ServiceLink.h"
#include "transfers/TransferService.h"
#include "quorvane/Version.h"

#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

namespace {

// Prints the file it is asked to play and plays until the script says it has
// finished (movie-finish).
class HeadlessMoviePlayer : public kit::MoviePlayerBackend {
public:
    void play(kit::MoviePlayerController& player) override
    {
        std::cout << "moviePlayer play " << player.contentURL() << std::endl;
    }
    void stop(kit::MoviePlayerController& player) override
    {
        std::cout << "moviePlayer stop " << player.contentURL() << std::endl;
    }
};

class HeadlessPlatform : public kit::Platform {
public:
    HeadlessPlatform(std::string scriptPath, bool virtualTime, std::string openArgument)
        : m_scriptPath(std::move(scriptPath))
        , m_virtualTime(virtualTime)
        , m_openArgument(std::move(openArgument))
    {
    }

    int run(kit::Application&) override
    {
        script::Script script(std::cout, "quorvane-headless", m_virtualTime);
        script::addStandardCommands(script);
        // As the desktop opens a file: once the application has launched.
        if (!m_openArgument.empty())
            TorrentOpener::open(m_openArgument);
        int status;
        if (m_scriptPath == "-") {
            status = script.run(std::cin);
        } else {
            std::ifstream in(m_scriptPath);
            if (!in) {
                std::cerr << "quorvane-headless: cannot read the script " << m_scriptPath << ": " << std::strerror(errno) << std::endl;
                status = 2;
            } else {
                status = script.run(in);
            }
        }
        // The script's end is the application's end; a running transfer ends with it.
        kit::Application::shared().terminate();
        endTransfers();
        return status;
    }

    bool showNotification(const std::string& title, const std::string& body,
        const std::vector<kit::NotificationAction>& actions = {}) override
    {
        // One line: the notice, then each button and what it hands over.
        std::cout << "notification " << title << ": " << body;
        for (const auto& action : actions)
            std::cout << " | " << action.title << " " << action.url;
        std::cout << std::endl;
        return true;
    }

    bool openURL(const std::string& url) override
    {
        // The system's hand-off, recorded where a script can see it.
        std::cout << "openURL " << url << std::endl;
        return true;
    }

    void terminate(kit::Application&) override { }

private:
    static constexpr double stopTimeout = 10;

    // The transfer client says goodbye to its tracker before it ends: wait for
    // that, as the window does, but not forever, and leave no client behind.
    static void endTransfers()
    {
        auto& loop = kit::RunLoop::main();
        auto gone = [] { return kit::ChildProcess::runningCount() == 0; };
        if (gone() || loop.runUntil(gone, stopTimeout))
            return;
        std::cerr << "quorvane-headless: the transfer client did not stop in " << int(stopTimeout) << " s; killing it" << std::endl;
        kit::ChildProcess::killAll();
        loop.runUntil(gone, 5);
    }

    std::string m_scriptPath;
    bool m_virtualTime;
    std::string m_openArgument;
};

void usage()
{
    script::Script commands(std::cout, "quorvane-headless", false);
    script::addStandardCommands(commands);
    std::cerr << "usage: quorvane-headless [--root DIR] [--virtual-time] [--open FILE] [--size WxH] [--phone-shell] --script FILE\n"
                 "       quorvane-headless --version\n"
                 "  --root DIR       lay the device under DIR (default: your own folders)\n"
                 "  --size WxH       the screen's size in points (default 320x480)\n"
                 "  --phone-shell    as under a phone's shell, which shows the system's status bar:\n"
                 "                   the application's own is hidden and its 20 points go to the screens\n"
                 "  --virtual-time   time passes only by 'wait' (timers fire in order, instantly)\n"
                 "  --open FILE      open a .torrent file as the desktop does, before the script runs:\n"
                 "                   the Transfer tab asks whether to download it\n"
                 "  --script FILE    the automation script ('-' reads standard input)\n"
                 "script commands:\n"
              << commands.help();
}

} // namespace

int main(int argc, char** argv)
{
    std::string root, script, open;
    bool virtualTime = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--root" && i + 1 < argc)
            root = argv[++i];
        else if (a == "--script" && i + 1 < argc)
            script = argv[++i];
        else if (a == "--open" && i + 1 < argc && *argv[i + 1])
            open = TorrentOpener::absoluteArgument(argv[++i]); // before anything can change the folder
        else if (a == "--virtual-time")
            virtualTime = true;
        else if (a == "--phone-shell")
            kit::Window::setStatusBarHidden(true);
        else if (a == "--size" && i + 1 < argc) {
            try {
                kit::Window::setScreenSize(script::parseScreenSize(argv[++i]));
            } catch (const script::ScriptError& e) {
                std::cerr << "quorvane-headless: --size: " << e.what() << '\n';
                return 2;
            }
        }
        else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--version") {
            std::cout << "quorvane-headless " QUORVANE_VERSION "\n";
            return 0;
        } else {
            std::cerr << "quorvane-headless: unknown argument '" << a << "'\n";
            usage();
            return 2;
        }
    }
    if (script.empty()) {
        usage();
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (!root.empty())
        kit::DeviceLayout::current().setRoot(root);
    // One application per device: a second would write over the first's
    // settings and downloads.
    auto lock = kit::InstanceLock::acquire();
    if (!lock) {
        std::cerr << "quorvane-headless: " << lock.error().message
                  << "; end it first, or lay this run under another --root." << std::endl;
        return 1;
    }
    if (virtualTime) {
        kit::RunLoop::main().useManualClock();
        // So that answers from loopback servers arrive in virtual time.
        kit::RunLoop::main().setWaitsForOutsideWork(true);
    }
    // The transfers are this device's service's where one answers; else this
    // run owns them, and serves views that come later (a window) until its end.
    TransferFeed::setFactory([]() -> std::shared_ptr<TransferFeed> {
        const auto path = ServiceEndpoint::socketPath();
        if (auto link = ServiceLink::connect(path)) {
            kit::log("The transfers are those of the service already running");
            link->restartWhenLost();
            return link;
        }
        auto service = TransferService::create();
        if (!path.empty())
            if (auto served = service->serve(path); !served)
                kit::log("Other views cannot reach these transfers: " + served.error().message);
        return service;
    });
    auto platform = std::make_shared<HeadlessPlatform>(script, virtualTime, open);
    platform->setWebEngineFactory(kit::HeadlessWebEngine::factory());
    platform->setMovieBackend(std::make_shared<HeadlessMoviePlayer>());
    kit::Platform::install(platform);
    char* args[] = { argv[0], nullptr };
    int status = quorvaneMain(1, args);
    kit::Platform::install(nullptr);
    return status;
}
