// The landing pages in the real web engine. The canvas panel, offscreen, against adnet: the page
// receives the canvas address and a title with quotes and a backslash intact
// (adnet's page writes what cb received into its title), "launch" hands its
// address to the system and leaves the panel open, "closecanvas" closes it.
#include "ads/landing/AdlarkBrowserController.h"
#include "ads/landing/AdlarkCanvasController.h"
#include "shells/qt/QtWebEngine.h"
#include "shells/qt/RunLoopBridge.h"
#include "shells/qt/Scene.h"
#include "tests/qt/QtTestSupport.h"
#include "tests/support/AdnetServer.h"
#include "tests/support/RecordingPlatform.h"

#include "kit/ui/Application.h"
#include "kit/ui/Window.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

// A window with the ad view in it, on a recording platform with the real web
// engine, against the shared adnet. The members come up in this order and go
// in the reverse one, after the platform is uninstalled: the order the web
// engine needs.
class LandingInWindow : public ::testing::Test {
protected:
    LandingInWindow()
    {
        window->addSubview(adView);
        screen.resize(320, 480);
        scene = std::make_unique<qtshell::Scene>(*window, &screen);
        screen.show();
    }
    ~LandingInWindow() override { kit::Platform::install(nullptr); }

    static std::shared_ptr<testsupport::RecordingPlatform> installedPlatform()
    {
        auto system = std::make_shared<testsupport::RecordingPlatform>();
        kit::Platform::install(system);
        qtshell::RunLoopBridge::install();
        system->setWebEngineFactory([](kit::WebView& view) { return std::make_unique<qtshell::QtWebEngine>(view); });
        return system;
    }
    struct Adnet {
        // Before the web engine starts: its host rules come from this mapping.
        Adnet()
        {
            testsupport::AdnetServer::shared().start();
            kit::RunLoop::main().reset();
        }
        ~Adnet()
        {
            testsupport::AdnetServer::shared().stop();
            kit::RunLoop::main().reset();
        }
    } adnet;
    kit::Application app;
    std::shared_ptr<testsupport::RecordingPlatform> system = installedPlatform();
    std::shared_ptr<kit::Window> window = std::make_shared<kit::Window>();
    std::shared_ptr<kit::View> adView = kit::View::create(kit::Rect { 0, 384, 320, 48 });
    QWidget screen;
    std::unique_ptr<qtshell::Scene> scene;
};

struct CanvasHost : AdlarkDelegate {
    std::optional<std::string> publisherId() override { return "canvas"; }
    void willPresentModalCanvas() override { notices.push_back("will"); }
    void didDismissModalCanvas() override { notices.push_back("did"); }
    std::vector<std::string> notices;
};

TEST_F(LandingInWindow, TheCanvasPageIsCalledAndItsCommandsLaunchAndClose)
{
    auto host = std::make_shared<CanvasHost>();
    auto canvas = AdlarkModalController::create<AdlarkCanvasController>();
    canvas->setAdlarkDelegate(host);
    const std::string title = "It's \"quoted\" \\ </script>";
    canvas->presentCanvasFromView(adView, *kit::URL::withString("http://media.example.test/static/iphone/canvas.html"), title);
    auto panel = std::static_pointer_cast<AdlarkCanvasWebView>(canvas->modalView());
    ASSERT_TRUE(processUntil([&] { return panel->title().rfind("cb ", 0) == 0; }, 60000)) << "title: " << panel->title();
    EXPECT_EQ(panel->title(),
        "cb [\"http://media.example.test/static/iphone/canvas.html#sdk\",\"It's \\\"quoted\\\" \\\\ </script>\"]");

    panel->stringByEvaluatingJavaScriptFromString("document.getElementById('launch').click()", nullptr);
    ASSERT_TRUE(processUntil([&] { return !system->opened.empty(); }, 30000));
    EXPECT_EQ(system->opened, std::vector<std::string> { "http://ads.example.test/landing.html" });
    EXPECT_EQ(host->notices, std::vector<std::string> { "will" });

    panel->stringByEvaluatingJavaScriptFromString("document.getElementById('close').click()", nullptr);
    ASSERT_TRUE(processUntil([&] { return host->notices.size() == 2; }, 30000));
    EXPECT_EQ(canvas->background(), nullptr);
    EXPECT_EQ(window->subviews().size(), 1u);
}

struct WebHost : AdlarkDelegate {
    std::optional<std::string> publisherId() override { return "text"; }
    void didDismissWebView() override { ++dismissed; }
    int dismissed { 0 };
};

TEST_F(LandingInWindow, TheBrowserFollowsHistoryHandsOverReportsFailuresAndCloses)
{
    auto host = std::make_shared<WebHost>();
    auto browser = AdlarkModalController::create<AdlarkBrowserController>();
    browser->setAdlarkDelegate(host);
    browser->presentBrowserFromView(adView, *kit::URL::withString("http://ads.example.test/landing.html"));
    auto title = [&] { return browser->topNavItem()->title(); };
    auto* web = browser->webView();
    ASSERT_TRUE(processUntil([&] { return title() == "Quorvane ad landing page"; }, 60000)) << title();
    auto click = [&](const std::string& text) {
        web->stringByEvaluatingJavaScriptFromString(
            "Array.from(document.links).find(a => a.textContent == '" + text + "').click()", nullptr);
    };
    // Chromium's back skips entries a script made without a user's gesture: load it as a person would.
    web->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString("http://ads.example.test/landing2.html")));
    ASSERT_TRUE(processUntil([&] { return title() == "Second landing page" && web->canGoBack(); }, 30000)) << title();
    web->goBack();
    ASSERT_TRUE(processUntil([&] { return title() == "Quorvane ad landing page" && web->canGoForward(); }, 30000))
        << title() << " " << web->request()->absoluteString() << " loading=" << web->isLoading() << " title=" << web->title();
    EXPECT_EQ(browser->bottomToolbar()->items()[2]->title(), "forward");
    click("Watch the video");
    click("A local file");
    ASSERT_TRUE(processUntil([&] { return !system->opened.empty(); }, 30000));
    click("A page that fails");
    ASSERT_TRUE(processUntil([&] { return app.frontPopup() != nullptr; }, 30000));
    EXPECT_EQ(app.frontPopup()->title(), "Whoops");
    // Chromium tells a dropped body as a short body (a lost connection) or,
    // depending on when the drop is seen, as a failure without a closer code.
    const std::string message = app.frontPopup()->message();
    EXPECT_TRUE(message == "Couldn't connect to that page." || message == "That page could not be loaded.") << message;
    app.frontPopup()->dismissWithClickedButtonIndex(0, true);
    EXPECT_EQ(system->opened, std::vector<std::string> { "http://www.clipstream.example/watch?v=quorvane" });

    browser->topToolbar()->leftButtonView()->sendAction(); // Done
    ASSERT_TRUE(processUntil([&] { return host->dismissed == 1; }, 30000));
    EXPECT_EQ(window->subviews().size(), 1u);
}

} // namespace
