#pragma once
// Shared pieces of the web tests: the loopback page server, a temporary
// device root, log capture, and waiting for a web view's load.
#include "kit/Log.h"
#include "kit/WebView.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace webtest {

// tests/web/pageserver.py on 127.0.0.1, on a port of its own choosing; it
// stops by itself after its lifetime, and at the latest when this object dies.
class PageServer {
public:
    explicit PageServer(double lifetimeSeconds = 120);
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;
    int port() const { return m_port; }

private:
    pid_t m_pid { -1 };
    int m_port { 0 };
};

// The host names the tests use, all mapped to the server's port by mapHosts().
inline constexpr const char* siteHost = "sites.quorvane.test";
// Maps the site host, the six start pages and the welcome page to the server,
// and "dead.quorvane.test" to a loopback port where nothing listens.
void mapHosts(int port);
std::string siteAddress(const std::string& path);

std::string makeTempFolder();
void removeFolder(const std::string& path);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    const std::vector<std::string>& lines() const { return m_lines; }
    bool contains(const std::string& line) const;
    void clear() { m_lines.clear(); }

private:
    std::vector<std::string> m_lines;
    kit::LogSink m_previous;
};

// The fixture of the tests that load pages: one page server per suite; per
// test a fresh loop on a manual clock, no animations, the headless engine and
// the host mapping.
class ServedTest : public testing::Test {
protected:
    static void SetUpTestSuite() { s_server = new PageServer(300); }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override;
    static inline PageServer* s_server = nullptr;
};

// Turns the run loop until the view's load is over (real time, for sockets).
bool waitForLoad(kit::WebView& view, double realTimeout = 10);

} // namespace webtest
