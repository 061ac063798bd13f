#include "tests/support/ServerProcess.h"

#include <signal.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

ServerProcess::ServerProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> words { program };
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("no pipe for " + program);
    m_pid = ::fork();
    if (m_pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("cannot fork for " + program);
    }
    if (m_pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        m_firstLine += c;
    ::close(out[0]);
    if (m_firstLine.empty()) {
        stop();
        throw std::runtime_error(program + " did not start");
    }
}

void ServerProcess::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    bool ended = false;
    for (int i = 0; i < 500 && !ended; ++i) {
        ended = ::waitpid(m_pid, nullptr, WNOHANG) != 0;
        if (!ended)
            ::usleep(10000);
    }
    if (!ended) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
}

} // namespace testsupport
