// The browser tab on the real web engine, offscreen: the default start page
// comes from a loopback server through the engine's host resolver rules, and
// a torrent link clicked in the page passes the navigation hook, whose
// decision keeps the file.
#include "shells/qt/QtWebEngine.h"
#include "shells/qt/QtPlatform.h"
#include "shells/qt/Scene.h"
#include "tests/qt/QtTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PageServer.h"

#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/web/WebView.h"
#include "kit/ui/Window.h"
#include "kit/core/UserDefaults.h"
#include "web/DownloadViewController.h"
#include "web/FirstViewController.h"

#include <QQuickWindow>
#include <QWebEngineView>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

TEST(QtWebEngineTest, BrowserTabKeepsATorrentLinkClickedInThePage)
{
    testsupport::PageServer site;
    auto port = std::to_string(site.port());
    ::setenv("QUORVANE_CONNECT_TO", ("releases.ubuntu.com:80:127.0.0.1:" + port).c_str(), 1);
    EXPECT_NE(qtshell::QtWebEngine::chromiumFlags().find("--host-resolver-rules=\"MAP releases.ubuntu.com:80 127.0.0.1:" + port + ", MAP *.invalid ~NOTFOUND\""),
        std::string::npos);

    kit::RunLoop::main().reset();
    WindowPlatform platform;
    testsupport::TempFolder root;
    kit::DeviceLayout::current().setRoot(root.path());
    kit::DeviceLayout::current().prepare();
    testsupport::LogCapture log;

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
        // The page came through the mapping; the engine's flags are not left
        // for the programs Quorvane opens.
        const char* flags = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
        EXPECT_EQ(std::string(flags ? flags : "").find("--host-resolver-rules"), std::string::npos) << flags;

        tab->webView->stringByEvaluatingJavaScriptFromString(
            "document.querySelector('a[href=\"/files/first.torrent\"]').click(); 'clicked'", nullptr);
        const auto kept = DownloadViewController::keptTorrentPath();
        ASSERT_TRUE(processUntil([&] { return std::filesystem::exists(kept); }, 30000));
        EXPECT_EQ(testsupport::readFile(kept), std::string("d8:announce24:http://tracker.test/first4:infod4:name5:firstee\0\xff\x01", 64));
        EXPECT_TRUE(log.contains(" URL String = http://releases.ubuntu.com/files/first.torrent"));
        tab->webView->setDelegate({});
    }
    kit::DeviceLayout::current().setRoot("");
    kit::RunLoop::main().reset();
}

// Counts the times a widget is shown and hidden.
struct ShowCounter : QObject {
    int shows { 0 }, hides { 0 };
    bool eventFilter(QObject*, QEvent* event) override
    {
        shows += event->type() == QEvent::Show;
        hides += event->type() == QEvent::Hide;
        return false;
    }
};

TEST(QtWebEngineTest, WelcomeTabShowsItsOwnPageWhenItsAddressFailsAndTheWindowAppearsOnce)
{
    // Nothing listens where the welcome address leads.
    ::setenv("QUORVANE_CONNECT_TO", "www.quorvane.example:80:127.0.0.1:1", 1);
    kit::RunLoop::main().reset();
    WindowPlatform platform;
    testsupport::TempFolder root;
    kit::DeviceLayout::current().setRoot(root.path());
    kit::DeviceLayout::current().prepare();
    kit::UserDefaults::standard().setObject("Ja", "AlertBool");
    {
        auto window = std::make_shared<kit::Window>();
        auto tab = std::make_shared<FirstViewController>();
        window->addSubview(tab->viewPointer());
        tab->awakeFromNib();
        QWidget host;
        host.resize(320, 480);
        ShowCounter counter;
        host.installEventFilter(&counter);
        qtshell::Scene scene(*window, &host);
        host.show();
        auto* native = host.windowHandle();
        ASSERT_NE(host.findChild<QWebEngineView*>(), nullptr);
        ASSERT_TRUE(processUntil([&] { return tab->webView->title() == "Welcome to Quorvane" && !tab->webView->isLoading(); }, 60000))
            << "title: " << tab->webView->title();
        EXPECT_EQ(tab->webView->request()->absoluteString(), "about:blank");
        EXPECT_FALSE(tab->act->isAnimating());
        std::string text;
        tab->webView->stringByEvaluatingJavaScriptFromString("document.body.innerText", [&](std::string t) { text = std::move(t); });
        ASSERT_TRUE(processUntil([&] { return !text.empty(); }, 10000));
        EXPECT_NE(text.find("Transfer"), std::string::npos) << text;
        // The page did not make the window again.
        EXPECT_EQ(counter.shows, 1);
        EXPECT_EQ(counter.hides, 0);
        EXPECT_EQ(host.windowHandle(), native);
        tab->webView->setDelegate({});
    }
    kit::DeviceLayout::current().setRoot("");
    kit::RunLoop::main().reset();
}

// What the web view's delegate hears, in order.
struct Decisions : kit::WebViewDelegate {
    std::vector<std::string> events;
    bool webViewShouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest& r, kit::WebViewNavigationType t) override
    {
        events.push_back(std::string("should ") + kit::navigationTypeName(t) + " " + r.absoluteString());
        return true;
    }
    void webViewDidFinishLoad(kit::WebView& v) override { events.push_back("finish " + v.title()); }
    void webViewDidFailLoadWithError(kit::WebView&, const kit::WebError& e) override { events.push_back("fail " + std::to_string(e.code)); }
    bool heard(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
};

TEST(QtWebEngineTest, RedirectsAndMessageAddressesReachTheDecisionAndFailuresCarryTheLoadersCodes)
{
    testsupport::PageServer site;
    auto port = std::to_string(site.port());
    ::setenv("QUORVANE_CONNECT_TO", ("pages.quorvane.test:80:127.0.0.1:" + port + ";closed.quorvane.test:80:127.0.0.1:1").c_str(), 1);
    kit::RunLoop::main().reset();
    WindowPlatform platform;
    {
        auto window = std::make_shared<kit::Window>();
        auto web = kit::View::create<kit::WebView>(kit::Rect { 0, 20, 320, 460 });
        auto decisionsHeld = std::make_shared<Decisions>();
        auto& decisions = *decisionsHeld;
        web->setDelegate(decisionsHeld);
        window->addSubview(web);
        QWidget host;
        host.resize(320, 480);
        qtshell::Scene scene(*window, &host);
        host.show();

        const std::string next = "http://pages.quorvane.test/next.html";
        web->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("http://pages.quorvane.test/redirect?to=/next.html")));
        ASSERT_TRUE(processUntil([&] { return decisions.heard("finish Next Page"); }, 60000)) << testing::PrintToString(decisions.events);
        EXPECT_TRUE(decisions.heard("should other " + next)) << "the redirect was asked about";

        decisions.events.clear();
        web->stringByEvaluatingJavaScriptFromString("location.href = 'adlark://closecanvas'", nullptr);
        ASSERT_TRUE(processUntil([&] { return !decisions.events.empty(); }, 30000));
        EXPECT_EQ(decisions.events, std::vector<std::string> { "should link adlark://closecanvas/" })
            << "asked about, then neither started nor failed";
        std::string title;
        web->stringByEvaluatingJavaScriptFromString("document.title", [&](std::string t) { title = t; });
        ASSERT_TRUE(processUntil([&] { return !title.empty(); }, 30000));
        EXPECT_EQ(title, "Next Page") << "the message address was not loaded";
        EXPECT_EQ(decisions.events.size(), 1u);
        EXPECT_EQ(web->request()->absoluteString(), next);

        decisions.events.clear();
        web->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("http://closed.quorvane.test/")));
        ASSERT_TRUE(processUntil([&] { return decisions.events.size() >= 2 && !web->isLoading(); }, 60000));
        EXPECT_TRUE(decisions.heard("fail -1004")) << testing::PrintToString(decisions.events);
        web->setDelegate({});
    }
    kit::RunLoop::main().reset();
}

// Pages are drawn in software and the window system's GL is left out; the
// choice is the window's own and is taken back before anything is started,
// and what the person chose in the environment stands.
TEST(QtWebEngineTest, DrawingInSoftwareLeavesOutGlWithoutPassingTheChoiceOn)
{
    auto restore = [](const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    };
    const char* backend = std::getenv("QT_QUICK_BACKEND");
    const std::string oldBackend = backend ? backend : "";
    const char* gl = std::getenv("QT_XCB_GL_INTEGRATION");
    const std::string oldGl = gl ? gl : "";
    ::unsetenv("QT_QUICK_BACKEND");
    ::unsetenv("QT_XCB_GL_INTEGRATION");
    ::unsetenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION");

    EXPECT_TRUE(qtshell::Modules::chooseSoftwareDrawing());
    // The engine's own side, before its first page.
    qtshell::QtWebEngine::prepareEnvironment();
    EXPECT_EQ(QQuickWindow::sceneGraphBackend(), QStringLiteral("software"));
    ASSERT_NE(std::getenv("QT_XCB_GL_INTEGRATION"), nullptr);
    EXPECT_STREQ(std::getenv("QT_XCB_GL_INTEGRATION"), "none");
    // Wayland's EGL buffer integration is what brings its GL driver.
    ASSERT_NE(std::getenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"), nullptr);
    EXPECT_STREQ(std::getenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"), "none");
    qtshell::Modules::releaseDrawingChoice();
    EXPECT_EQ(std::getenv("QT_XCB_GL_INTEGRATION"), nullptr) << "a program Quorvane opens would draw without GL";
    EXPECT_EQ(std::getenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"), nullptr);

    ::setenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION", "wayland-egl", 1);
    EXPECT_FALSE(qtshell::Modules::chooseSoftwareDrawing()) << "the person's own choice stands";
    qtshell::Modules::releaseDrawingChoice();
    EXPECT_STREQ(std::getenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"), "wayland-egl");
    ::unsetenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION");

    ::setenv("QT_XCB_GL_INTEGRATION", "xcb_glx", 1);
    EXPECT_FALSE(qtshell::Modules::chooseSoftwareDrawing()) << "the person's own GL choice stands";
    qtshell::Modules::releaseDrawingChoice();
    EXPECT_STREQ(std::getenv("QT_XCB_GL_INTEGRATION"), "xcb_glx");

    ::unsetenv("QT_XCB_GL_INTEGRATION");
    ::setenv("QT_QUICK_BACKEND", "rhi", 1);
    EXPECT_FALSE(qtshell::Modules::chooseSoftwareDrawing());
    EXPECT_EQ(std::getenv("QT_XCB_GL_INTEGRATION"), nullptr);

    restore("QT_QUICK_BACKEND", backend ? oldBackend.c_str() : nullptr);
    restore("QT_XCB_GL_INTEGRATION", gl ? oldGl.c_str() : nullptr);
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

} // namespace
