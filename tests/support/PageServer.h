#pragma once
// The loopback web site of the tests (tests/support/pageserver.py): an index
// page with torrent links, two torrent files, a missing one and one that never
// answers, on 127.0.0.1 at a port of its own choosing. It stops by itself
// after its lifetime, and at the latest when this object dies.
#include "tests/support/LoopTest.h"
#include "tests/support/ServerProcess.h"

#include <string>
#include <vector>

namespace kit {
class WebView;
}

namespace testsupport {

class PageServer {
public:
    explicit PageServer(double lifetimeSeconds = 120);
    int port() const { return m_port; }

private:
    ServerProcess m_process;
    int m_port { 0 };
};

// The host name the tests load the site from.
inline constexpr const char* siteHost = "sites.quorvane.test";
std::string siteAddress(const std::string& path);

// Maps the site host and the hosts of the given addresses to the server's
// port, and "dead.quorvane.test" to a loopback port where nothing listens.
void mapHosts(int port, const std::vector<std::string>& addresses = {});

// The fixture of the tests that load pages: one page server per suite; per
// test a fresh loop on a manual clock, the headless web engine and the host
// mapping (with the addresses mappedAddresses() adds).
class ServedTest : public LoopTest {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    virtual std::vector<std::string> mappedAddresses() const { return {}; }
    static int serverPort();

private:
    static inline PageServer* s_server = nullptr;
};

// Turns the run loop until the view's load is over (real time, for sockets).
bool waitForLoad(kit::WebView& view, double realTimeout = 10);

} // namespace testsupport
