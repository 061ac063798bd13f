#pragma once
// A process this application did not start: one left running by an earlier
// run of it. It can be looked at (is it alive, what is its command line) and
// told to end; it cannot be reaped, so its end is seen by looking again.
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kit {

class ForeignProcess {
public:
    // The command line of a live process (not a zombie); nothing when there is
    // no such process or it cannot be read.
    static std::optional<std::vector<std::string>> commandLine(pid_t pid);
    // Alive and not a zombie.
    static bool isAlive(pid_t pid);
    // SIGTERM then SIGCONT, so that a stopped process can act on it.
    static void terminate(pid_t pid);
    static void kill(pid_t pid);
    static void suspend(pid_t pid);
    static void resume(pid_t pid);
    // The running program of this process (tests of the above).
    static pid_t self();
};

} // namespace kit
