#include "kit/core/ForeignProcess.h"

#include <csignal>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace kit {

namespace {

// The state letter of /proc/PID/stat: after the last ')' (a name may hold one).
char stateOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size())
        return 0;
    return stat[close + 2];
}

bool valid(pid_t pid)
{
    // 0 and negative numbers name process groups to kill(): never signal those.
    return pid > 1;
}

} // namespace

bool ForeignProcess::isAlive(pid_t pid)
{
    if (!valid(pid))
        return false;
    char state = stateOf(pid);
    return state != 0 && state != 'Z' && state != 'X';
}

std::optional<std::vector<std::string>> ForeignProcess::commandLine(pid_t pid)
{
    if (!isAlive(pid))
        return std::nullopt;
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (raw.empty())
        return std::nullopt; // a kernel thread, or one that just ended
    std::vector<std::string> args;
    size_t start = 0;
    while (start < raw.size()) {
        auto end = raw.find('\0', start);
        if (end == std::string::npos)
            end = raw.size();
        args.push_back(raw.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

void ForeignProcess::terminate(pid_t pid)
{
    if (!valid(pid))
        return;
    ::kill(pid, SIGTERM);
    ::kill(pid, SIGCONT);
}

void ForeignProcess::kill(pid_t pid)
{
    if (valid(pid))
        ::kill(pid, SIGKILL);
}

void ForeignProcess::suspend(pid_t pid)
{
    if (valid(pid))
        ::kill(pid, SIGSTOP);
}

void ForeignProcess::resume(pid_t pid)
{
    if (valid(pid))
        ::kill(pid, SIGCONT);
}

pid_t ForeignProcess::self()
{
    return ::getpid();
}

} // namespace kit
