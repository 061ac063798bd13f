#pragma once
// What the ad benchmarks share: a private device root, and adnet as a child
// on a free loopback port, reached through the host mapping.
#include "kit/core/DeviceInfo.h"
#include "kit/core/DeviceLayout.h"

#include <cstdio>
#include <cstdlib>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace adbench {

// A fresh device root under /tmp; empty when none can be made.
inline std::string makeDeviceRoot(const char* name)
{
    std::string pattern = std::string("/tmp/quorvane-") + name + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return {};
    kit::DeviceLayout::current().setRoot(pattern);
    kit::DeviceLayout::current().prepare();
    kit::DeviceInfo::reload();
    return pattern;
}

// Points the program's fixed host names at adnet's port.
inline void mapHostsTo(int port)
{
    const std::string p = std::to_string(port);
    const std::string mapping = "ads.example.test:80:127.0.0.1:" + p + ";media.example.test:80:127.0.0.1:" + p;
    setenv("QUORVANE_CONNECT_TO", mapping.c_str(), 1);
}

struct Adnet {
    pid_t pid { -1 };
    int port { 0 };
    void stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
};

// Starts adnet (one port for both roles) and waits for its port; port 0 when
// it did not start.
inline Adnet startAdnet()
{
    Adnet adnet;
    int out[2];
    if (pipe(out) != 0)
        return adnet;
    adnet.pid = fork();
    if (adnet.pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(QUORVANE_ADNET, "adnet", "--port", "0", "--exit-after", "600", nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    auto at = line.find("media=");
    if (at == std::string::npos) {
        std::fprintf(stderr, "adnet did not start\n");
        adnet.stop();
        return adnet;
    }
    adnet.port = std::atoi(line.c_str() + at + 6);
    return adnet;
}

} // namespace adbench
