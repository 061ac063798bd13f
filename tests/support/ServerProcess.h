#pragma once
// A loopback server run as a child of the test: it announces itself on the
// first line of its standard output and is stopped when this object dies.
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class ServerProcess {
public:
    // Starts program with the arguments and waits for its first line;
    // throws when the program does not start or says nothing.
    ServerProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ServerProcess() { stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    const std::string& firstLine() const { return m_firstLine; }
    // Asks the server to end, and kills it if it has not within five seconds.
    void stop();

private:
    pid_t m_pid { -1 };
    std::string m_firstLine;
};

} // namespace testsupport
