#include "kit/core/ChildProcess.h"

#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/core/Timer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kit {

namespace {
// Running children are held here until reaped, so that a child whose object
// its owner dropped is still reaped (no zombie) and still ended at the end.
std::vector<std::shared_ptr<ChildProcess>>& liveChildren()
{
    static std::vector<std::shared_ptr<ChildProcess>> list;
    return list;
}

bool g_pidFdAllowed = true;

// What the child tells its parent when it cannot get to the program.
enum ChildStep : int { SetUpStep, ChangeFolderStep, ExecStep };
struct ChildFailure {
    int step;
    int error;
};

[[noreturn]] void failInChild(int errorPipe, ChildStep step, int err)
{
    ChildFailure failure { step, err };
    [[maybe_unused]] auto n = ::write(errorPipe, &failure, sizeof failure);
    _exit(127);
}
} // namespace

// Where a child has no pidfd: SIGCHLD writes a byte to a pipe that the main
// run loop watches, and each byte reaps every such child that has exited.
class ChildReaper {
public:
    static ChildReaper& shared()
    {
        static ChildReaper reaper;
        return reaper;
    }

    bool works() const { return m_watch != nullptr; }

    // Installed before a fork that may need it, so no exit goes unheard.
    void prepare()
    {
        if (m_installed)
            return;
        m_installed = true;
        if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            log(std::string("child processes: no pipe for SIGCHLD (") + std::strerror(errno) + "); exits are looked for at each isRunning()");
            return;
        }
        struct sigaction sa { };
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
        ::sigaction(SIGCHLD, &sa, &s_previous);
        m_watch = std::make_unique<FdWatcher>(s_pipe[0], FdWatcher::Read, [](unsigned) {
            char buffer[64];
            while (::read(s_pipe[0], buffer, sizeof buffer) > 0) { }
            reapAll();
        });
    }

    static void reapAll()
    {
        auto live = liveChildren(); // reaping edits the list
        for (auto& child : live)
            if (child->m_pidFd < 0)
                child->reap(false);
    }

private:
    static void onSignal(int sig)
    {
        int saved = errno;
        char c = 1;
        [[maybe_unused]] auto n = ::write(s_pipe[1], &c, 1);
        // Whoever handled SIGCHLD before us still hears it.
        if (s_previous.sa_handler != SIG_DFL && s_previous.sa_handler != SIG_IGN && !(s_previous.sa_flags & SA_SIGINFO))
            s_previous.sa_handler(sig);
        errno = saved;
    }

    static inline int s_pipe[2] = { -1, -1 };
    static inline struct sigaction s_previous { };
    bool m_installed { false };
    std::unique_ptr<FdWatcher> m_watch;
};

void ChildProcess::setPidFdAllowed(bool allowed)
{
    g_pidFdAllowed = allowed;
}

std::shared_ptr<ChildProcess> ChildProcess::create()
{
    return std::make_shared<ChildProcess>(Private {});
}

ChildProcess::~ChildProcess()
{
    m_exitWatch.reset();
    if (m_pidFd >= 0)
        ::close(m_pidFd);
}

ErrorOr<void, ChildProcess::LaunchError> ChildProcess::launch()
{
    if (m_launched) {
        LaunchError error;
        error.message = "already launched";
        error.failure = LaunchFailure::Other;
        return error;
    }
    m_launched = true;
    std::vector<std::string> argvStore;
    argvStore.push_back(m_launchPath);
    argvStore.insert(argvStore.end(), m_arguments.begin(), m_arguments.end());
    std::vector<char*> argv;
    for (auto& a : argvStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // Reported before forking, so the message names the real cause.
    if (::access(m_launchPath.c_str(), X_OK) != 0) {
        LaunchError error;
        error.code = errno;
        error.message = m_launchPath + ": " + std::strerror(error.code);
        error.failure = LaunchFailure::Program;
        return error;
    }

    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        LaunchError error;
        error.code = errno;
        error.message = std::string("pipe: ") + std::strerror(error.code);
        error.failure = LaunchFailure::Other;
        return error;
    }
    // Made before the fork, so that what fails is said in the parent's words.
    auto setUpError = [&](const std::string& what) {
        LaunchError error;
        error.code = errno;
        error.message = what + ": " + std::strerror(error.code);
        error.failure = LaunchFailure::Other;
        ::close(errorPipe[0]);
        ::close(errorPipe[1]);
        return error;
    };
    int fileFd = -1;
    if (!m_outputFile.empty()) {
        fileFd = ::open(m_outputFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fileFd < 0)
            return setUpError(m_outputFile);
    }
    int inputPipe[2] = { -1, -1 };
    if (m_inputText) {
        if (::pipe2(inputPipe, O_CLOEXEC) != 0) {
            auto error = setUpError("pipe");
            if (fileFd >= 0)
                ::close(fileFd);
            return error;
        }
        // The text fits the pipe's buffer: written whole now, then end of input.
        const auto& text = *m_inputText;
        [[maybe_unused]] auto n = ::write(inputPipe[1], text.data(), std::min<size_t>(text.size(), 4096));
        ::close(inputPipe[1]);
    }
    const int outFd = fileFd >= 0 ? fileFd : m_stdout ? m_stdout->writeFd() : -1;
    const int errFd = fileFd >= 0 ? fileFd : m_stderr ? m_stderr->writeFd() : -1;
    const int inFd = inputPipe[0];
    const bool outlives = m_outlives;
    const char* dir = m_currentDirectory.empty() ? nullptr : m_currentDirectory.c_str();
    const pid_t parent = ::getpid();
    if (!g_pidFdAllowed)
        ChildReaper::shared().prepare();

    pid_t pid = ::fork();
    if (pid < 0) {
        LaunchError error;
        error.code = errno;
        error.message = std::string("fork: ") + std::strerror(error.code);
        error.failure = LaunchFailure::Other;
        ::close(errorPipe[0]);
        ::close(errorPipe[1]);
        if (fileFd >= 0)
            ::close(fileFd);
        if (inFd >= 0)
            ::close(inFd);
        return error;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        if (outlives) {
            ::setsid();
        } else {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                _exit(127);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : { SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD })
            ::signal(s, SIG_DFL);
        int in = inFd >= 0 ? inFd : ::open("/dev/null", O_RDONLY);
        if (in < 0 || ::dup2(in, 0) < 0)
            failInChild(errorPipe[1], SetUpStep, errno);
        if (outFd >= 0 && ::dup2(outFd, 1) < 0)
            failInChild(errorPipe[1], SetUpStep, errno);
        if (errFd >= 0 && ::dup2(errFd, 2) < 0)
            failInChild(errorPipe[1], SetUpStep, errno);
        if (dir && ::chdir(dir) != 0)
            failInChild(errorPipe[1], ChangeFolderStep, errno);
        ::execv(argv[0], argv.data());
        failInChild(errorPipe[1], ExecStep, errno);
    }
    ::close(errorPipe[1]);
    if (fileFd >= 0)
        ::close(fileFd);
    if (inFd >= 0)
        ::close(inFd);
    ChildFailure failure {};
    ssize_t got;
    do
        got = ::read(errorPipe[0], &failure, sizeof failure);
    while (got < 0 && errno == EINTR);
    ::close(errorPipe[0]);
    m_pid = pid;
    if (got == sizeof failure) {
        int st;
        ::waitpid(pid, &st, 0);
        m_status = 127;
        const std::string why = std::strerror(failure.error);
        LaunchError error;
        error.code = failure.error;
        if (failure.step == ChangeFolderStep) {
            error.failure = LaunchFailure::WorkingFolder;
            error.message = "the working folder " + m_currentDirectory + ": " + why;
        } else if (failure.step == ExecStep && failure.error == ENOENT) {
            // The program is there (checked above): what is missing is the
            // interpreter or loader that it names.
            error.failure = LaunchFailure::Other;
            error.message = m_launchPath + ": " + why + " (the interpreter or loader it names is missing)";
        } else {
            error.failure = failure.step == ExecStep && failure.error == EACCES ? LaunchFailure::Program : LaunchFailure::Other;
            error.message = m_launchPath + ": " + why;
        }
        return error;
    }
    // The child holds the write ends now; our copies would hide its end of output.
    if (m_stdout)
        m_stdout->closeWriteEnd();
    if (m_stderr)
        m_stderr->closeWriteEnd();

    m_pidFd = g_pidFdAllowed ? int(::syscall(SYS_pidfd_open, pid, 0)) : -1;
    if (m_pidFd >= 0) {
        m_exitWatch = std::make_unique<FdWatcher>(m_pidFd, FdWatcher::Read, [this](unsigned) { reap(false); });
    } else {
        static bool told = false;
        if (g_pidFdAllowed && !told) {
            told = true;
            log(std::string("child processes: no pidfd (") + std::strerror(errno) + "); exits are heard through SIGCHLD");
        }
        ChildReaper::shared().prepare();
        // It may have ended before the handler was there.
        std::weak_ptr<ChildProcess> weak = shared_from_this();
        RunLoop::main().post([weak] {
            if (auto child = weak.lock())
                child->reap(false);
        });
    }
    liveChildren().push_back(shared_from_this());
    return {};
}

void ChildProcess::reap(bool block)
{
    if (m_pid <= 0 || m_status)
        return;
    int st = 0;
    pid_t r;
    do
        r = ::waitpid(m_pid, &st, block ? 0 : WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == 0)
        return;
    if (r < 0)
        m_status = -1;
    else if (WIFEXITED(st))
        m_status = WEXITSTATUS(st);
    else if (WIFSIGNALED(st))
        m_status = 128 + WTERMSIG(st);
    else
        return;
    m_exitWatch.reset();
    if (m_pidFd >= 0)
        ::close(m_pidFd);
    m_pidFd = -1;
    auto keep = shared_from_this();
    std::erase_if(liveChildren(), [this](auto& c) { return c.get() == this; });
    if (onTerminate) {
        auto cb = onTerminate;
        cb(*this);
    }
}

bool ChildProcess::isRunning()
{
    if (m_pid <= 0 || m_status)
        return false;
    reap(false);
    return !m_status;
}

void ChildProcess::signal(int sig)
{
    if (isRunning())
        ::kill(m_pid, sig);
}

void ChildProcess::terminate()
{
    signal(SIGTERM);
    signal(SIGCONT);
}

void ChildProcess::terminate(double killAfter)
{
    if (!isRunning())
        return;
    terminate();
    if (m_killTimer)
        return; // the first deadline stands
    std::weak_ptr<ChildProcess> weak = weak_from_this();
    m_killTimer = Timer::scheduled(killAfter, false, [weak, killAfter](Timer&) {
        auto self = weak.lock();
        if (!self || !self->isRunning())
            return;
        log("process " + std::to_string(self->m_pid) + " (" + self->m_launchPath + ") did not end within "
            + std::to_string(int(killAfter)) + " s of SIGTERM; killed");
        self->signal(SIGKILL);
    });
}

void ChildProcess::suspend()
{
    signal(SIGSTOP);
}

void ChildProcess::resume()
{
    signal(SIGCONT);
}

void ChildProcess::terminateAll()
{
    auto live = liveChildren();
    for (auto& child : live)
        child->terminate();
}

void ChildProcess::killAll()
{
    auto live = liveChildren();
    for (auto& child : live)
        child->signal(SIGKILL);
}

} // namespace kit

namespace kit {
size_t ChildProcess::runningCount()
{
    return liveChildren().size();
}
ErrorOr<pid_t> ChildProcess::spawnDetached(const std::string& path, const std::vector<std::string>& arguments)
{
    std::vector<std::string> words { path };
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return Error::fromErrno("Cannot open /dev/null");
    // The grandchild's pid comes back through a pipe.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        ::close(null);
        return Error::fromErrno("Cannot make a pipe");
    }
    pid_t middle = ::fork();
    if (middle < 0) {
        auto error = Error::fromErrno("Cannot start " + path);
        ::close(null);
        ::close(report[0]);
        ::close(report[1]);
        return error;
    }
    if (middle == 0) {
        // Only async-signal-safe calls from here to exec.
        ::setsid();
        pid_t program = ::fork();
        if (program != 0) {
            ssize_t written = ::write(report[1], &program, sizeof program);
            _exit(written == sizeof program && program > 0 ? 0 : 1);
        }
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::syscall(SYS_close_range, 3u, ~0u, 0u);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(null);
    ::close(report[1]);
    pid_t program = 0;
    ssize_t got;
    do
        got = ::read(report[0], &program, sizeof program);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) { }
    if (got != sizeof program || program <= 0)
        return Error { "Cannot start " + path };
    return program;
}

std::string ChildProcess::helperPath(const std::string& name)
{
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    const auto folder = self.parent_path();
    if (auto beside = folder / name; std::filesystem::exists(beside, ec))
        return beside.string();
    return (folder.parent_path() / "libexec" / self.filename() / name).string();
}

} // namespace kit
