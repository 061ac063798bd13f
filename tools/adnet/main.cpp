// adnet: the project's own ad network on loopback. See docs/adnet.md.
#include "AdNetwork.h"
#include "HostileMedia.h"
#include "quorvane/Version.h"

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

void usage(std::FILE* out)
{
    std::fputs(
        "usage: adnet [--port N | --ad-port N --media-port N] [--log FILE|-]\n"
        "             [--exit-after SECONDS] [--ad-host NAME] [--media-host NAME] [--slow SECONDS]\n"
        "             [--scenario NAME[,NAME...]]\n"
        "       adnet --version\n"
        "Serves the ad server and the media host on 127.0.0.1. Port 0 picks a free port.\n"
        "Prints \"adnet ad=PORT media=PORT\" on standard output once listening.\n",
        out);
}

bool number(const char* text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && out >= 0;
}

} // namespace

int main(int argc, char** argv)
{
    double port = 0, adPort = -1, mediaPort = -1, exitAfter = 0;
    bool split = false;
    std::string logPath;
    adnet::Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "adnet: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        auto numberValue = [&](double& out) {
            const char* v = value();
            if (!number(v, out)) {
                std::fprintf(stderr, "adnet: bad number for %s: %s\n", arg.c_str(), v);
                std::exit(2);
            }
        };
        if (arg == "--port")
            numberValue(port);
        else if (arg == "--ad-port")
            numberValue(adPort), split = true;
        else if (arg == "--media-port")
            numberValue(mediaPort), split = true;
        else if (arg == "--log")
            logPath = value();
        else if (arg == "--exit-after")
            numberValue(exitAfter);
        else if (arg == "--ad-host")
            options.adHost = value();
        else if (arg == "--media-host")
            options.mediaHost = value();
        else if (arg == "--scenario") {
            std::string list = value();
            options.scenarios.clear();
            for (size_t start = 0; start <= list.size();) {
                size_t comma = list.find(',', start);
                if (comma == std::string::npos)
                    comma = list.size();
                std::string name = list.substr(start, comma - start);
                if (!adnet::AdNetwork::knowsScenario(name)) {
                    std::fprintf(stderr, "adnet: unknown scenario \"%s\" (see docs/adnet.md)\n", name.c_str());
                    return 2;
                }
                options.scenarios.push_back(name);
                start = comma + 1;
            }
        } else if (arg == "--slow")
            numberValue(options.slowSeconds);
        else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("adnet (Quorvane) " QUORVANE_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "adnet: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (split && (adPort < 0 || mediaPort < 0)) {
        std::fputs("adnet: --ad-port and --media-port go together\n", stderr);
        return 2;
    }

    // Stop when the parent goes away, so that a crashed test leaves no server.
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        return 0;

    std::FILE* log = nullptr;
    if (logPath == "-")
        log = stdout;
    else if (!logPath.empty() && !(log = std::fopen(logPath.c_str(), "a"))) {
        std::fprintf(stderr, "adnet: cannot open log %s: %s\n", logPath.c_str(), std::strerror(errno));
        return 1;
    }

    // Signals are taken by one thread; the servers stop from there.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // The hostile answers are made once, before the first request can come.
    adnet::HostileMedia::shared();
    adnet::AdNetwork network(options, log);
    std::vector<std::unique_ptr<httplib::Server>> servers;
    auto bind = [&](double wanted, const std::string& role) -> int {
        auto server = std::make_unique<httplib::Server>();
        network.install(*server, role);
        int bound = wanted == 0 ? server->bind_to_any_port("127.0.0.1") : (server->bind_to_port("127.0.0.1", int(wanted)) ? int(wanted) : -1);
        if (bound < 0) {
            std::fprintf(stderr, "adnet: cannot listen on 127.0.0.1:%d\n", int(wanted));
            std::exit(1);
        }
        servers.push_back(std::move(server));
        return bound;
    };
    int ad = 0, media = 0;
    if (split) {
        ad = bind(adPort, "ad");
        media = bind(mediaPort, "media");
    } else {
        ad = media = bind(port, "both");
    }

    std::vector<std::thread> listeners;
    for (auto& server : servers)
        listeners.emplace_back([&server] { server->listen_after_bind(); });
    // A stop before the servers run would be lost: announce (and so let a
    // caller stop us) only once every server is running.
    for (auto& server : servers)
        while (!server->is_running())
            usleep(1000);
    std::printf("adnet ad=%d media=%d\n", ad, media);
    std::fflush(stdout);

    auto stopAll = [&] {
        network.shutdown();
        for (auto& server : servers)
            server->stop();
    };
    std::thread signals([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        stopAll();
    });
    signals.detach();
    if (exitAfter > 0) {
        std::thread timer([&, exitAfter] {
            usleep(useconds_t(exitAfter * 1e6));
            stopAll();
        });
        timer.detach();
    }

    for (auto& t : listeners)
        t.join();
    if (log && log != stdout)
        std::fclose(log);
    std::_Exit(0); // detached helpers may still wait; nothing more to flush
}
