#pragma once
// The test program's ad network: one adnet child on a free loopback port for
// the whole program, reached through the host mapping. Its request log is
// read back as JSON lines.
#include "json/Value.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TempFolder.h"

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct LoggedRequest {
    std::string path;
    std::string query;                 // raw, as sent
    json::Dictionary params;           // decoded by the server
    json::Dictionary headers;
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
    std::string param(const std::string& name) const;
};

class AdnetServer {
public:
    static AdnetServer& shared();

    void start();
    void stop();
    int port() const { return m_port; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    // Requests logged so far; mark() then since() reads only the new ones.
    std::vector<LoggedRequest> requests() const;
    void mark();
    std::vector<LoggedRequest> since() const;
    std::vector<LoggedRequest> since(const std::string& path) const;

private:
    std::unique_ptr<TempFolder> m_folder;
    std::unique_ptr<ServerProcess> m_process;
    int m_port { 0 };
    std::string m_logPath;
    size_t m_mark { 0 };
};

} // namespace testsupport
