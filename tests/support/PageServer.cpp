#include "tests/support/PageServer.h"

#include "kit/web/HeadlessWebEngine.h"
#include "kit/core/RunLoop.h"
#include "kit/net/URL.h"
#include "kit/web/WebView.h"

#include <cstdlib>
#include <stdexcept>

namespace testsupport {

PageServer::PageServer(double lifetimeSeconds)
    : m_process(QUORVANE_PYTHON, { QUORVANE_PAGE_SERVER, "--lifetime", std::to_string(lifetimeSeconds) })
{
    m_port = std::atoi(m_process.firstLine().c_str());
    if (m_port <= 0)
        throw std::runtime_error("the page server did not start: " + m_process.firstLine());
}

std::string siteAddress(const std::string& path)
{
    return std::string("http://") + siteHost + path;
}

void mapHosts(int port, const std::vector<std::string>& addresses)
{
    std::string p = std::to_string(port);
    std::string value;
    auto add = [&](const std::string& address, const std::string& target) {
        auto host = kit::URL::withString(address)->host();
        value += host + ":80:127.0.0.1:" + target + ";";
    };
    add(siteAddress("/"), p);
    for (auto& address : addresses)
        add(address, p);
    add("http://dead.quorvane.test/", "1");
    ::setenv("QUORVANE_CONNECT_TO", value.c_str(), 1);
}

void ServedTest::SetUpTestSuite()
{
    s_server = new PageServer(300);
}

void ServedTest::TearDownTestSuite()
{
    delete s_server;
    s_server = nullptr;
}

void ServedTest::SetUp()
{
    LoopTest::SetUp();
    env.platform().setWebEngineFactory(kit::HeadlessWebEngine::factory());
    mapHosts(s_server->port(), mappedAddresses());
}

int ServedTest::serverPort()
{
    return s_server->port();
}

bool waitForLoad(kit::WebView& view, double realTimeout)
{
    return kit::RunLoop::main().runUntil([&] { return !view.isLoading(); }, realTimeout);
}

} // namespace testsupport
