#include "tests/web/WebTestSupport.h"

#include "kit/HeadlessWebEngine.h"
#include "kit/RunLoop.h"
#include "kit/ViewAnimation.h"
#include "web/DownloadViewController.h"
#include "web/FirstViewController.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace webtest {

PageServer::PageServer(double lifetimeSeconds)
{
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe");
    std::string lifetime = std::to_string(lifetimeSeconds);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execl(QUORVANE_PYTHON, QUORVANE_PYTHON, QUORVANE_PAGE_SERVER, "--lifetime", lifetime.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string line;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(fds[0]);
    m_port = std::atoi(line.c_str());
    if (m_port <= 0)
        throw std::runtime_error("the page server did not start");
}

PageServer::~PageServer()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void mapHosts(int port)
{
    std::string p = std::to_string(port);
    std::string value;
    auto add = [&](const std::string& address, const std::string& target) {
        auto host = kit::URL::withString(address)->host();
        value += host + ":80:127.0.0.1:" + target + ";";
    };
    add(std::string("http://") + siteHost + "/", p);
    for (auto* page : { DownloadViewController::demonoidPage, DownloadViewController::mininovaPage,
             DownloadViewController::piratebayPage, DownloadViewController::sumoPage, DownloadViewController::extremePage,
             DownloadViewController::litePage, FirstViewController::welcomePageAddress })
        add(page, p);
    add("http://dead.quorvane.test/", "1");
    ::setenv("QUORVANE_CONNECT_TO", value.c_str(), 1);
}

std::string siteAddress(const std::string& path)
{
    return std::string("http://") + siteHost + path;
}

std::string makeTempFolder()
{
    std::string t = (std::filesystem::temp_directory_path() / "quorvane-web-XXXXXX").string();
    if (!::mkdtemp(t.data()))
        throw std::runtime_error("mkdtemp");
    return t;
}

void removeFolder(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool fileExists(const std::string& path)
{
    return std::filesystem::exists(path);
}

LogCapture::LogCapture()
{
    m_previous = kit::setLogSink([this](const std::string& line) {
        m_lines.push_back(line);
        return true;
    });
}

LogCapture::~LogCapture()
{
    kit::setLogSink(m_previous);
}

bool LogCapture::contains(const std::string& line) const
{
    return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
}

void ServedTest::SetUp()
{
    kit::RunLoop::main().reset();
    kit::RunLoop::main().useManualClock();
    kit::ViewAnimation::reset();
    kit::HeadlessWebEngine::install();
    mapHosts(s_server->port());
}

bool waitForLoad(kit::WebView& view, double realTimeout)
{
    return kit::RunLoop::main().runUntil([&] { return !view.isLoading(); }, realTimeout);
}

} // namespace webtest
