#include "tests/support/AdnetServer.h"

#include "json/CJSONDeserializer.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <strings.h>

namespace testsupport {

std::string LoggedRequest::header(const std::string& name) const
{
    for (auto& entry : headers) {
        std::string key(entry.key.begin(), entry.key.end());
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return entry.value.utf8().value_or("");
    }
    return {};
}

bool LoggedRequest::hasHeader(const std::string& name) const
{
    for (auto& entry : headers) {
        std::string key(entry.key.begin(), entry.key.end());
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return true;
    }
    return false;
}

std::string LoggedRequest::param(const std::string& name) const
{
    return params.utf8(name).value_or("");
}

AdnetServer& AdnetServer::shared()
{
    static AdnetServer server;
    return server;
}

void AdnetServer::start()
{
    m_folder = std::make_unique<TempFolder>();
    m_logPath = *m_folder / "requests.log";
    m_process = std::make_unique<ServerProcess>(QUORVANE_ADNET,
        std::vector<std::string> { "--port", "0", "--log", m_logPath, "--exit-after", "900", "--slow", "120" });
    const std::string& line = m_process->firstLine();
    auto at = line.find("media=");
    if (at == std::string::npos)
        throw std::runtime_error("adnet did not start: " + line);
    m_port = std::atoi(line.c_str() + at + 6);
    std::string mapping = "ads.example.test:80:127.0.0.1:" + std::to_string(m_port)
        + ";media.example.test:80:127.0.0.1:" + std::to_string(m_port);
    ::setenv("QUORVANE_CONNECT_TO", mapping.c_str(), 1);
}

void AdnetServer::stop()
{
    m_process.reset();
    m_folder.reset();
}

std::vector<LoggedRequest> AdnetServer::requests() const
{
    std::vector<LoggedRequest> out;
    std::ifstream in(m_logPath);
    std::string line;
    while (std::getline(in, line)) {
        auto value = json::CJSONDeserializer::deserializer().deserializeAsDictionary(line);
        if (!value)
            continue;
        LoggedRequest r;
        r.path = value->utf8("path").value_or("");
        r.query = value->utf8("query").value_or("");
        if (auto* p = value->dictionary("params"))
            r.params = *p;
        if (auto* h = value->dictionary("headers"))
            r.headers = *h;
        out.push_back(std::move(r));
    }
    return out;
}

void AdnetServer::mark()
{
    m_mark = requests().size();
}

std::vector<LoggedRequest> AdnetServer::since() const
{
    auto all = requests();
    return std::vector<LoggedRequest>(all.begin() + std::min(m_mark, all.size()), all.end());
}

std::vector<LoggedRequest> AdnetServer::since(const std::string& path) const
{
    std::vector<LoggedRequest> out;
    for (auto& r : since())
        if (r.path == path)
            out.push_back(r);
    return out;
}

} // namespace testsupport
