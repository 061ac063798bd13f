// quorvane: Quorvane in a window on a Linux desktop or handheld.
#include "app/QuorvaneMain.h"
#include "app/TorrentOpener.h"
#include "kit/ui/Application.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/InstanceLock.h"
#include "kit/core/Log.h"
#include "shells/qt/DesktopNotifier.h"
#include "shells/qt/AppIcon.h"
#include "shells/qt/FirstFrame.h"
#include "shells/qt/OnScreenKeyboard.h"
#include "shells/qt/Options.h"
#include "shells/qt/PhoneShell.h"
#include "shells/qt/QtLocationSource.h"
#include "shells/qt/QtPlatform.h"
#if QUORVANE_QT_WEBENGINE
#include "shells/qt/Modules.h"
#endif
#include "shells/qt/SingleInstance.h"
#include "shells/qt/AppWindow.h"
#include "transfers/ServiceEndpoint.h"
#include "transfers/ServiceLink.h"
#include <optional>
#include <filesystem>
#include <QLibraryInfo>
#include "quorvane/Version.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    char c = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &c, 1);
}

// Ctrl+C or a session's end: the application ends as by its Exit button,
// its transfer with it; a second signal leaves at once.
void handleEndSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buffer[16];
        [[maybe_unused]] auto n = ::read(g_signalPipe[0], buffer, sizeof buffer);
        static bool asked = false;
        if (asked || !kit::Application::exists()) {
            QCoreApplication::exit(1);
            return;
        }
        asked = true;
        kit::Application::shared().terminate();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction(s, &sa, nullptr);
}

#if QUORVANE_QT_WEBENGINE
QtMessageHandler g_nextMessageHandler = nullptr;

// With GL left out on purpose, the platform's and the web engine's notes
// that it is missing tell nobody anything.
void dropMissingGlNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg
        && (message.startsWith(QLatin1String("QXcbIntegration: Cannot create platform OpenGL context"))
            || message.startsWith(QLatin1String("No suitable graphics backend found"))
            || message.startsWith(QLatin1String("Failed to load client buffer integration"))
            || message.startsWith(QLatin1String("Available client buffer integrations"))))
        return;
    if (g_nextMessageHandler)
        g_nextMessageHandler(type, context, message);
}
#endif

bool hasDisplay()
{
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// Why Qt could not open the window system the environment names, or nothing.
// Qt itself ends a failed start with an abort (status 134) and a hint about
// reinstalling; a person is better told what is missing, with status 1.
std::optional<std::string> windowSystemProblem()
{
    auto value = [](const char* name) {
        const char* v = std::getenv(name);
        return std::string(v ? v : "");
    };
    std::string platform = value("QT_QPA_PLATFORM");
    platform = platform.substr(0, platform.find_first_of(":;"));
    const bool x11 = !value("DISPLAY").empty();
    const std::string wayland = value("WAYLAND_DISPLAY");
    // A Wayland session without X: Qt would try X and fail; Wayland it is.
    if (platform.empty() && !x11 && !wayland.empty()) {
        ::setenv("QT_QPA_PLATFORM", "wayland", 1);
        platform = "wayland";
    }
    if (!platform.starts_with("wayland"))
        return std::nullopt;
    std::vector<std::string> folders { QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() };
    for (const auto& extra : QString::fromStdString(value("QT_PLUGIN_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders.push_back(extra.toStdString());
    const bool plugin = std::any_of(folders.begin(), folders.end(), [](const std::string& folder) {
        std::error_code ec;
        return std::filesystem::exists(folder + "/platforms/libqwayland-generic.so", ec)
            || std::filesystem::exists(folder + "/platforms/libqwayland-egl.so", ec);
    });
    if (!plugin)
        return "the window was asked to open on Wayland, but Qt's Wayland plugin is not installed. Install the package qt6-wayland "
               "(apt install qt6-wayland), or open the window on X11 (QT_QPA_PLATFORM=xcb, with DISPLAY set).";
    const std::string name = wayland.empty() ? "wayland-0" : wayland;
    const std::string socket = name.starts_with("/") ? name : value("XDG_RUNTIME_DIR") + "/" + name;
    std::error_code ec;
    if (!std::filesystem::exists(socket, ec))
        return "the window was asked to open on Wayland, but there is no Wayland display at " + socket
            + ". Start Quorvane in the Wayland session (WAYLAND_DISPLAY and XDG_RUNTIME_DIR set), or on X11 with DISPLAY set.";
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    // Before anything else: --version needs no display, no lock and no Qt.
    if (std::find(args.begin(), args.end(), "--version") != args.end()) {
        std::cout << "quorvane " QUORVANE_VERSION "\n";
        return 0;
    }
    auto options = qtshell::Options::parse(args);
    if (options.help) {
        std::cout << qtshell::Options::usage();
        return 0;
    }
    if (!options.error.empty()) {
        std::cerr << "quorvane: " << options.error << "\n" << qtshell::Options::usage();
        return 2;
    }
    // The system log goes to the desktop's log unless asked for here.
    if (!options.verbose)
        kit::setLogDestination(kit::LogDestination::Desktop);
    // The running Quorvane has another working folder: it gets the file's full path.
    if (!options.open.empty())
        options.open = TorrentOpener::absoluteArgument(options.open);
    const bool oneShot = options.oneShot();
    if (!hasDisplay()) {
        if (oneShot) {
            // A picture or a script needs no screen.
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        } else {
            std::cerr << "quorvane: no display is available (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open.\n"
                         "Run Quorvane without a window through the headless shell, for instance:\n"
                         "  quorvane-headless --root DIR --script FILE     (quorvane-headless --help lists the commands)\n"
                         "or render the window to a picture: quorvane --screenshot out.png\n";
            return 1;
        }
    }
    if (auto problem = windowSystemProblem()) {
        std::cerr << "quorvane: " << *problem << "\n";
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    qtshell::PhoneShell::prepare();

    qtshell::DesktopNotifier::preventBusAutolaunch();
#if QUORVANE_QT_WEBENGINE
    // The web module is opened after the first frame, and its engine starts
    // from the application's shared GL context (even one that cannot be made,
    // when pages are drawn in software): it must be asked for before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (qtshell::Modules::chooseSoftwareDrawing() && !options.verbose)
        g_nextMessageHandler = qInstallMessageHandler(dropMissingGlNotes);
#endif
    QApplication::setApplicationName(QStringLiteral("quorvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvane"));
    QApplication::setDesktopFileName(QStringLiteral("quorvane"));
    int qtArgc = 1;
    char* qtArgv[] = { argv[0], nullptr };
    // The web engine's own diagnostics are for its developers: kept off the
    // terminal unless asked for (QT_LOGGING_RULES still overrides this).
#if QUORVANE_QT_WEBENGINE
    qtshell::Modules::setWebVerbose(options.verbose);
#endif
    if (!options.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false\njs=false"));
    QApplication qapp(qtArgc, qtArgv);
#if QUORVANE_QT_WEBENGINE
    qtshell::Modules::releaseDrawingChoice();
#endif
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(qtshell::appIcon());
    // The phone's keyboard, asked over the bus where Qt's own request does not reach it.
    std::unique_ptr<qtshell::OnScreenKeyboard> keyboard;
    if (qtshell::PhoneShell::isActive() && !oneShot) {
        keyboard = std::make_unique<qtshell::OnScreenKeyboard>(QDBusConnection::sessionBus());
        qtshell::OnScreenKeyboard::setShared(keyboard.get());
    }

    std::unique_ptr<qtshell::SingleInstance> instance;
    if (!oneShot) {
        QString problem, note;
        const QString name = qtshell::SingleInstance::defaultName(&problem, &note);
        if (name.isEmpty()) {
            std::cerr << "quorvane: " << problem.toStdString() << "." << std::endl;
            return 1;
        }
        if (!note.isEmpty())
            std::cerr << "quorvane: " << note.toStdString() << "." << std::endl;
        instance = std::make_unique<qtshell::SingleInstance>(name);
        auto refuseForeign = [&] {
            std::cerr << "quorvane: " << name.toStdString()
                      << " is answered by another user's program, not by your Quorvane; nothing was handed to it. "
                         "Set XDG_RUNTIME_DIR to a folder of your own." << std::endl;
            return 1;
        };
        if (!options.open.empty()) {
            if (instance->askRunningToOpen(options.open)) {
                std::cerr << "quorvane: Quorvane is already running; " << options.open << " was handed to it." << std::endl;
                return 0;
            }
        } else if (instance->askRunningToShow()) {
            std::cerr << "quorvane: Quorvane is already running; its window is shown again." << std::endl;
            return 0;
        }
        if (instance->metForeignPeer())
            return refuseForeign();
        if (options.ifRunning)
            return 1;
        handleEndSignals();
    }

    if (!options.root.empty())
        kit::DeviceLayout::current().setRoot(options.root);
    // One application per device (a headless run, or a window of a script,
    // on the same folders): a second would write over the first's settings
    // and downloads.
    auto lock = kit::InstanceLock::acquire();
    if (!lock) {
        std::cerr << "quorvane: " << lock.error().message << "; end it first, or open another --root." << std::endl;
        return 1;
    }
    // A window shows the transfer service's transfers, starting the service
    // when none answers; where it cannot be had, the window owns them as before.
    // A start that only measures its first frame joins a running service and
    // starts none; a picture or a script keeps the transfers in the window.
    if (!oneShot || options.exitAfterFirstFrame)
        TransferFeed::setFactory([startsService = !oneShot]() -> std::shared_ptr<TransferFeed> {
            const auto path = ServiceEndpoint::socketPath();
            auto link = ServiceLink::connect(path);
            if (!link && startsService)
                link = ServiceLink::start(path);
            if (!link) {
                if (startsService)
                    kit::log("The transfers stay in the window: the transfer service cannot be reached");
                return nullptr;
            }
            if (!startsService)
                return link;
            // Exit stops the transfers and the service; closing the window leaves them to it.
            link->endsServiceOnEnd = true;
            link->restartWhenLost();
            qtshell::AppWindow::setClosingEnds([weak = std::weak_ptr<ServiceLink>(link)] {
                if (auto l = weak.lock())
                    l->endsServiceOnEnd = false;
            });
            return link;
        });
    auto platform = std::make_shared<qtshell::QtPlatform>(options);
    platform->setSingleInstance(instance.get());
    kit::Platform::install(platform);
    // The application's views are made before the window: what they start
    // that is slow to start waits for the first frame (see FirstFrame.h).
    qtshell::setFirstFramePending(true);
    qtshell::afterFirstFrame([] { qtshell::installSystemLocationSource(); });
    char* appArgs[] = { argv[0], nullptr };
    int status = quorvaneMain(1, appArgs);
    kit::Platform::install(nullptr);
    return status;
}
