// The browser tab on the real web engine, offscreen: the default start page
// comes from a loopback server through the engine's host resolver rules, and
// a torrent link clicked in the page passes the navigation hook, whose
// decision keeps the file.
#include "shells/qt/QtWebEngine.h"
#include "shells/qt/RunLoopBridge.h"
#include "shells/qt/Scene.h"
#include "tests/qt/QtTestSupport.h"

#include "kit/DeviceLayout.h"
#include "kit/Log.h"
#include "kit/RunLoop.h"
#include "kit/Window.h"
#include "web/DownloadViewController.h"

#include <QWebEngineView>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// tests/web/pageserver.py on 127.0.0.1; it also stops by itself.
struct LoopbackSite {
    pid_t pid { -1 };
    int port { 0 };
    LoopbackSite()
    {
        auto script = (std::filesystem::path(__FILE__).parent_path().parent_path() / "web" / "pageserver.py").string();
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            ::execlp("python3", "python3", script.c_str(), "--lifetime", "120", nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string line;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(fds[0]);
        port = std::atoi(line.c_str());
    }
    ~LoopbackSite()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(QtWebEngineTest, BrowserTabKeepsATorrentLinkClickedInThePage)
{
    LoopbackSite site;
    ASSERT_GT(site.port, 0);
    auto port = std::to_string(site.port);
    ::setenv("QUORVANE_CONNECT_TO", ("releases.ubuntu.com:80:127.0.0.1:" + port).c_str(), 1);
    EXPECT_NE(qtshell::QtWebEngine::chromiumFlags().find("--host-resolver-rules=\"MAP releases.ubuntu.com:80 127.0.0.1:" + port + "\""),
        std::string::npos);

    kit::RunLoop::main().reset();
    qtshell::RunLoopBridge bridge;
    auto root = makeTempDir();
    kit::DeviceLayout::current().setRoot(root);
    kit::DeviceLayout::current().prepare();
    std::vector<std::string> lines;
    auto previous = kit::setLogSink([&](const std::string& line) {
        lines.push_back(line);
        return true;
    });

    {
        auto window = std::make_shared<kit::Window>();
        auto tab = std::make_shared<DownloadViewController>();
        window->addSubview(tab->viewPointer());
        QWidget host;
        host.resize(320, 480);
        qtshell::Scene scene(*window, &host);
        host.show();
        auto* shown = host.findChild<QWebEngineView*>();
        ASSERT_NE(shown, nullptr) << "the web view's peer shows the engine's page";

        ASSERT_TRUE(processUntil([&] { return tab->webView->title() == "Quorvane Test & Torrents" && !tab->webView->isLoading(); }, 60000))
            << "title: " << tab->webView->title();
        EXPECT_FALSE(tab->act->isAnimating());
        EXPECT_EQ(shown->page(), static_cast<qtshell::QtWebEngine&>(tab->webView->engine()).page());

        tab->webView->stringByEvaluatingJavaScriptFromString(
            "document.querySelector('a[href=\"/files/first.torrent\"]').click(); 'clicked'", nullptr);
        const auto kept = DownloadViewController::keptTorrentPath();
        ASSERT_TRUE(processUntil([&] { return std::filesystem::exists(kept); }, 30000));
        EXPECT_EQ(fileText(kept), std::string("d8:announce24:http://tracker.test/first4:infod4:name5:firstee\0\xff\x01", 64));
        EXPECT_NE(std::find(lines.begin(), lines.end(), " URL String = http://releases.ubuntu.com/files/first.torrent"), lines.end());
        tab->webView->setDelegate(nullptr);
    }
    kit::setLogSink(previous);
    kit::DeviceLayout::current().setRoot("");
    std::filesystem::remove_all(root);
    kit::RunLoop::main().reset();
}

} // namespace
