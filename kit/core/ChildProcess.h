#pragma once
// A child process, as the platform's task object: program, arguments, working
// folder, standard output and error (both may go to one pipe), launch,
// is-running, terminate, suspend, resume.
//
// - The child's standard input is /dev/null (or a short text given before
//   launch): it never shares the application's terminal or script input.
// - The child is told to end (SIGTERM) when the application dies, unless it
//   is to outlive it: then it runs in a session of its own and goes on when
//   the application is killed (its output then goes to a file, not a pipe).
// - Exits are reaped on the main run loop (no zombies); isRunning() is true
//   from launch until the child has exited, also while it is stopped. The
//   exit is watched through a pidfd; where the kernel gives none, through
//   SIGCHLD (logged once), so a child is reaped either way.
// - Every running child is terminated by terminateAll() (the application's end).
#include "kit/core/FdWatcher.h"
#include "kit/core/Pipe.h"

#include "kit/core/ErrorOr.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kit {

class Timer;

class ChildProcess : public std::enable_shared_from_this<ChildProcess> {
public:
    static std::shared_ptr<ChildProcess> create();
    ~ChildProcess();

    void setLaunchPath(std::string path) { m_launchPath = std::move(path); }
    void setArguments(std::vector<std::string> args) { m_arguments = std::move(args); }
    void setCurrentDirectoryPath(std::string path) { m_currentDirectory = std::move(path); }
    void setStandardOutput(std::shared_ptr<Pipe> pipe) { m_stdout = std::move(pipe); }
    void setStandardError(std::shared_ptr<Pipe> pipe) { m_stderr = std::move(pipe); }
    // Standard output and error both appended to this file (made 0600 when new).
    void setOutputFile(std::string path) { m_outputFile = std::move(path); }
    // What the child reads on its standard input, then end of input (a few KiB at most).
    void setStandardInputText(std::string text) { m_inputText = std::move(text); }
    // No parent-death signal, a session of its own: the child goes on when the application dies.
    void setOutlivesApplication(bool outlives) { m_outlives = outlives; }
    const std::string& launchPath() const { return m_launchPath; }
    const std::vector<std::string>& arguments() const { return m_arguments; }
    const std::string& currentDirectoryPath() const { return m_currentDirectory; }

    // Which step failed: the program itself is missing or not executable, the
    // working folder cannot be entered, or the start failed otherwise (a
    // script whose interpreter is missing, no resources).
    enum class LaunchFailure { Program, WorkingFolder, Other };
    struct LaunchError : Error {
        LaunchFailure failure { LaunchFailure::Other };
    };
    // An error saying why and at which step when the program could not be
    // started (missing, not executable, bad working folder). Launch at most once.
    ErrorOr<void, LaunchError> launch();

    bool isRunning();
    pid_t processIdentifier() const { return m_pid; }
    // Exit status, or 128 + signal number; nullopt while running or before launch.
    std::optional<int> terminationStatus() const { return m_status; }

    // SIGTERM, then SIGCONT so that a stopped child can act on it.
    void terminate();
    // terminate(), and SIGKILL if the child is still running killAfter
    // seconds later (on the run loop's clock; logged): a child that ignores
    // SIGTERM must not run on after it was told to stop.
    void terminate(double killAfter);
    void suspend();
    void resume();

    // Called on the run loop once the child has exited.
    std::function<void(ChildProcess&)> onTerminate;

    static void terminateAll();
    // SIGKILL to every running child: for one that ignored terminateAll().
    static void killAll();
    // Children launched and not yet reaped.
    static size_t runningCount();

    // Starts a program that is no child of this process at all (started
    // through a child that ends at once): a session of its own, standard
    // input and output on /dev/null, no descriptor of ours; nothing to reap
    // and nothing terminateAll() reaches. Its process id.
    static ErrorOr<pid_t> spawnDetached(const std::string& path, const std::vector<std::string>& arguments);
    // A helper program of this application: beside the running program (a
    // build), else in ../libexec/<the program's name>/ (an installed package).
    static std::string helperPath(const std::string& name);

    // Reaping through SIGCHLD even where pidfds work (tests of that path).
    static void setPidFdAllowed(bool allowed);

private:
    // Only create() can name the tag (explicit: `{}` does not make one).
    struct Private {
        explicit Private() = default;
    };

public:
    explicit ChildProcess(Private) { }

private:
    friend class ChildReaper;
    void reap(bool block);
    void signal(int sig);

    std::string m_launchPath;
    std::vector<std::string> m_arguments;
    std::string m_currentDirectory;
    std::shared_ptr<Pipe> m_stdout;
    std::shared_ptr<Pipe> m_stderr;
    std::string m_outputFile;
    std::optional<std::string> m_inputText;
    bool m_outlives { false };
    pid_t m_pid { -1 };
    int m_pidFd { -1 };
    bool m_launched { false };
    std::optional<int> m_status;
    std::unique_ptr<FdWatcher> m_exitWatch;
    std::shared_ptr<Timer> m_killTimer;
};

} // namespace kit
