// The canvas panel: its frames, the query strings, the script it hands the
// page, the "adlark" commands, and whole openings against adnet's canvas page
// with the headless engine (which answers "typeof(adlark)" from the page's
// scripts and keeps every script it was handed).
#include "ads/landing/AdlarkBrowserController.h"
#include "ads/landing/AdlarkCanvasController.h"
#include "tests/ads/landing/LandingTestSupport.h"
#include "tests/support/PageServer.h"

#include "ads/AdlarkAd.h"
#include "ads/AdlarkController.h"
#include "ads/AdlarkSingleAdView.h"
#include "ads/AdlarkView.h"
#include "ads/AdlarkService.h"

#include "kit/web/HeadlessWebEngine.h"

#include <cstdlib>

using namespace landingtest;
using Dictionary = std::map<std::string, std::string>;

namespace {

TEST(CanvasQueryString, SplitsAsTheCanvasPageExpects)
{
    auto parse = &AdlarkCanvasWebView::dictionaryWithQueryString;
    EXPECT_EQ(parse("a=1&b=2"), (Dictionary { { "a", "1" }, { "b", "2" } }));
    EXPECT_EQ(parse("a=1&a=2"), (Dictionary { { "a", "2" } }));
    EXPECT_EQ(parse("a="), (Dictionary { { "a", "" } }));
    EXPECT_EQ(parse("=1"), Dictionary {});
    EXPECT_EQ(parse("a"), Dictionary {});
    EXPECT_EQ(parse(""), Dictionary {});
    EXPECT_EQ(parse("a=b=c"), (Dictionary { { "a", "b=c" } }));
    EXPECT_EQ(parse("%41=%42"), (Dictionary { { "A", "B" } }));
    EXPECT_EQ(parse("&&a=1&"), (Dictionary { { "a", "1" } }));
    EXPECT_EQ(parse("u=%C3%A9&v=1"), (Dictionary { { "v", "1" } })) << "escapes that are not ASCII leave their pair out";
}

TEST(CanvasScript, EveryTitleReachesThePageAsOneStringLiteral)
{
    auto literal = &AdlarkCanvasWebView::scriptStringLiteral;
    EXPECT_EQ(literal("plain"), "'plain'");
    EXPECT_EQ(literal("It's \"a\" back\\slash"), "'It\\'s \\\"a\\\" back\\\\slash'");
    EXPECT_EQ(literal("two\nlines\r"), "'two\\nlines\\r'");
    EXPECT_EQ(literal("</script><script>alert(1)</script>"), "'\\x3C/script\\x3E\\x3Cscript\\x3Ealert(1)\\x3C/script\\x3E'");
    EXPECT_EQ(literal("a\xE2\x80\xA8" "b\xE2\x80\xA9" "c\xE2\x80\xA6"), "'a\\u2028b\\u2029c\xE2\x80\xA6'") << "other characters stay";
    EXPECT_EQ(literal(std::string("\x01\x7f", 2)), "'\\x01\\x7F'");
}

class CanvasPanel : public LandingTest {
protected:
    void SetUp() override
    {
        LandingTest::SetUp();
        canvas = AdlarkModalController::create<AdlarkCanvasController>();
        canvas->setAdlarkDelegate(host);
    }
    void open(const std::string& title = "Canvas ad")
    {
        canvas->presentCanvasFromView(adView, *kit::URL::withString(canvasAddress), title);
    }
    kit::HeadlessWebEngine& engine() { return static_cast<kit::HeadlessWebEngine&>(canvas->canvasView()->engine()); }
    bool closed() const { return host->notices.size() == 2 && host->notices.back() == "didDismissModalCanvas"; }
    // The page has loaded and answered (the loop runs in real time for the server).
    bool waitForCall()
    {
        return waitFor([&] { return canvas->canvasView() && !canvas->canvasView()->initialLoad(); });
    }
    void navigate(const std::string& address)
    {
        engine().navigate(kit::URLRequest::requestWithURL(kit::URL::withString(address)), kit::WebViewNavigationType::LinkClicked);
    }

    const std::string canvasAddress = std::string(adlark::mediaHostURL) + "/static/iphone/canvas.html";
    std::shared_ptr<AdlarkCanvasController> canvas;
};

TEST_F(CanvasPanel, SitsCentredWithItsIndicatorAndLoadsTheFixedPage)
{
    open();
    auto* panel = canvas->canvasView();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->frame(), (kit::Rect { 0, 82.5f, 320, 295 }));
    auto* indicator = panel->viewWithTag(1);
    ASSERT_NE(indicator, nullptr);
    EXPECT_EQ(indicator->frame(), (kit::Rect { 150, 137.5f, 20, 20 }));
    EXPECT_EQ(panel->canvasUrl()->absoluteString(), canvasAddress + "#sdk");
    ASSERT_TRUE(panel->request());
    EXPECT_EQ(panel->request()->absoluteString(), "http://media.example.test/static/iphone/canvas.html");
    EXPECT_EQ(panel->request()->cachePolicy(), kit::URLRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData);
    EXPECT_EQ(panel->request()->timeoutInterval(), 600);
    EXPECT_EQ(host->notices, std::vector<std::string> { "willPresentModalCanvas" });

    auto withFragment = kit::View::create<AdlarkCanvasWebView>(kit::Rect {});
    withFragment->setCanvasUrl(*kit::URL::withString("http://x.test/c#top"));
    EXPECT_EQ(withFragment->canvasUrl()->absoluteString(), "http://x.test/c#top#sdk");
}

TEST_F(CanvasPanel, HandsThePageItsAddressAndATitleWithQuotesIntact)
{
    open("It's a \"quoted\" \\ title");
    ASSERT_TRUE(waitForCall());
    EXPECT_EQ(canvas->canvasView()->viewWithTag(1), nullptr) << "the indicator goes with the first load";
    auto& scripts = engine().evaluatedScripts();
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_EQ(scripts[0], "typeof(adlark)");
    EXPECT_EQ(scripts[1], "cb('" + canvasAddress + "#sdk', 'It\\'s a \\\"quoted\\\" \\\\ title')");
    advance(1);
    EXPECT_EQ(host->notices.size(), 1u) << "the panel stays open";
}

TEST_F(CanvasPanel, LaunchHandsItsAddressToTheSystemAndOtherCommandsDoNothing)
{
    open();
    ASSERT_TRUE(waitForCall());
    advance(1);
    auto links = engine().links();
    ASSERT_GE(links.size(), 3u) << "adnet's canvas page offers launch, close and help";
    EXPECT_EQ(links[0].text, "Close");
    EXPECT_EQ(links[1].url.absoluteString(), "adlark://launch?url=http%3A%2F%2Fads.example.test%2Flanding.html");

    navigate(links[1].url.absoluteString());
    navigate("adlark://launch?url=https%3A%2F%2Fshop.example.test%2Fa%3Fb%3D1");
    navigate("adlark://launch");                      // no address
    navigate("adlark://launch?url=");                 // an empty one
    navigate("adlark://launch?url=not%20an%20address"); // text that is no address
    navigate("adlark://launch?url=file%3A%2F%2F%2Fetc%2Fpasswd");
    navigate("adlark://help");
    advance(1);
    EXPECT_EQ(system->opened, (std::vector<std::string> { "http://ads.example.test/landing.html", "https://shop.example.test/a?b=1" }));
    EXPECT_EQ(host->notices.size(), 1u);
    EXPECT_FALSE(canvas->canvasView()->isLoading()) << "no adlark address is loaded";
    EXPECT_EQ(canvas->canvasView()->request()->absoluteString(), "http://media.example.test/static/iphone/canvas.html");

    // The scheme is compared exactly: this one is an ordinary navigation, and no command.
    navigate("ADLARK://closecanvas");
    advance(1);
    EXPECT_EQ(host->notices.size(), 1u);

    navigate(links[0].url.absoluteString()); // Close
    advance(0.21);
    EXPECT_TRUE(canvas->isDismissing());
    advance(0.5);
    EXPECT_TRUE(closed());
}

TEST_F(CanvasPanel, AnotherPageClosesThePanel)
{
    // A media host that answers the canvas address with a page of its own.
    testsupport::PageServer other;
    const std::string saved = std::getenv("QUORVANE_CONNECT_TO");
    ::setenv("QUORVANE_CONNECT_TO", ("media.example.test:80:127.0.0.1:" + std::to_string(other.port())).c_str(), 1);
    open();
    auto panel = std::static_pointer_cast<AdlarkCanvasWebView>(canvas->modalView());
    ASSERT_TRUE(waitFor([&] { return canvas->dismissalRequested(); }));
    ::setenv("QUORVANE_CONNECT_TO", saved.c_str(), 1);
    EXPECT_EQ(panel->title(), "Not Found");
    EXPECT_TRUE(panel->initialLoad());
    EXPECT_EQ(static_cast<kit::HeadlessWebEngine&>(panel->engine()).evaluatedScripts(), std::vector<std::string> { "typeof(adlark)" })
        << "the page is not called";
    advance(0.7 + 0.5 + 0.2 + 0.5 + 0.1);
    EXPECT_TRUE(closed()) << "closed once the opening allowed it";
}

TEST_F(CanvasPanel, RepeatedFailedFirstLoadsCloseOnce)
{
    // A media host where nothing listens: every load of the panel fails.
    const std::string saved = std::getenv("QUORVANE_CONNECT_TO");
    ::setenv("QUORVANE_CONNECT_TO", "media.example.test:80:127.0.0.1:1", 1);
    open();
    auto panel = std::static_pointer_cast<AdlarkCanvasWebView>(canvas->modalView());
    auto failAgain = [&] {
        panel->startLoadingCanvas();
        return waitFor([&] { return !panel->isLoading(); });
    };
    ASSERT_TRUE(waitFor([&] { return canvas->dismissalRequested(); })) << "the first failure asks to close";
    ASSERT_TRUE(failAgain());
    advance(0.71); // the opening ends; the close follows 0.5 s later
    ASSERT_TRUE(failAgain());
    advance(0.51);
    EXPECT_TRUE(canvas->isDismissing());
    ASSERT_TRUE(failAgain());
    advance(0.21); // faded out: the panel is released, the background shrinks
    EXPECT_FALSE(canvas->modalView());
    ASSERT_TRUE(failAgain());
    advance(0.6);
    ::setenv("QUORVANE_CONNECT_TO", saved.c_str(), 1);
    EXPECT_TRUE(closed());
    EXPECT_TRUE(kit::ViewAnimation::activeAnimations().empty());
    EXPECT_EQ(panel->alpha(), 0);
}

// As the ad controller does on a canvas ad's click: a new controller for the
// panel, the host's delegate, the ad's user string as the title.
TEST_F(CanvasPanel, AReadyCanvasAdsClickOpensThePanel)
{
    host->publisher = "canvas";
    auto ad = AdlarkAd::create();
    auto owner = std::make_shared<int>(0);
    ad->setDataSource(host);
    ad->setDelegate(owner);
    bool ready = false;
    std::string opened;
    ad->requestSuccessSelector = [&](AdlarkAd&) { ready = true; };
    ad->displayCanvasSelector = [&](AdlarkAd& a, const std::string& url) {
        opened = url;
        canvas = AdlarkModalController::create<AdlarkCanvasController>();
        canvas->setAdlarkDelegate(host);
        canvas->presentCanvasFromView(adView, *kit::URL::withString(url), a.userString().value_or(""));
    };
    ad->request();
    ASSERT_TRUE(waitFor([&] { return ready; }));
    ad->click();
    ASSERT_TRUE(waitFor([&] { return !opened.empty(); }));
    EXPECT_EQ(opened, canvasAddress);
    ASSERT_TRUE(waitForCall());
    EXPECT_EQ(engine().evaluatedScripts().back(), "cb('" + canvasAddress + "#sdk', " + AdlarkCanvasWebView::scriptStringLiteral(*ad->userString()) + ")");
    EXPECT_EQ(host->notices, std::vector<std::string> { "willPresentModalCanvas" });
    ad->setDelegate({});
}

// The whole road in the application: a canvas ad in an ad view, a tap on its
// banner, the panel over the application; and a web ad's tap opens the browser.
TEST_F(CanvasPanel, ATapOnTheBannerOpensTheLandingPageOfItsKind)
{
    for (std::string kind : { "canvas", "text" }) {
        host->publisher = kind;
        host->notices.clear();
        auto view = AdlarkView::requestAdWithDelegate(host);
        box->addSubview(view);
        auto controller = std::static_pointer_cast<AdlarkViewInternal>(view)->controller();
        ASSERT_TRUE(waitFor([&] { return view->viewWithTag(AdlarkController::bannerTag); })) << kind;
        auto* banner = dynamic_cast<AdlarkSingleAdView*>(view->viewWithTag(AdlarkController::bannerTag));
        ASSERT_NE(banner, nullptr);
        banner->touchesBegan({ 10, 10 });
        banner->touchesEnded({ 10, 10 });
        if (kind == "canvas") {
            ASSERT_TRUE(waitFor([&] { return controller->canvasController() && !controller->canvasController()->canvasView()->initialLoad(); }));
            auto& engine = static_cast<kit::HeadlessWebEngine&>(controller->canvasController()->canvasView()->engine());
            EXPECT_EQ(engine.evaluatedScripts().back(),
                "cb('" + canvasAddress + "#sdk', " + AdlarkCanvasWebView::scriptStringLiteral(*controller->currentlyDisplayedAd()->userString()) + ")");
            EXPECT_EQ(host->notices, std::vector<std::string> { "willPresentModalCanvas" });
            EXPECT_EQ(controller->canvasController()->background()->initialFrame(), view->convertToAncestor(window.get()));
        } else {
            ASSERT_TRUE(waitFor([&] { return controller->browserController() && controller->browserController()->webView()
                                          && controller->browserController()->topNavItem()->title() == "Quorvane ad landing page"; }));
            EXPECT_EQ(host->notices, std::vector<std::string> { "willPresentWebView" });
        }
        EXPECT_TRUE(system->opened.empty()) << "nothing goes to the system";
        // The open page holds the ad view until it has closed.
        if (kind == "canvas")
            controller->canvasController()->dismissModal();
        else
            controller->browserController()->dismissModal();
        // The opening may still run: the close then waits 0.5 s after its fade-in.
        advance(0.5 + 0.2 + 0.5 + 0.2 + 0.5 + 0.1);
        EXPECT_EQ(host->notices.size(), 2u) << kind << ": the page closed";
        view->removeFromSuperview();
    }
}

TEST_F(CanvasPanel, AClickThatLeadsToAFileAddressOpensNothing)
{
    for (std::string kind : { "app", "app-file" }) {
        host->publisher = kind;
        auto ad = AdlarkAd::create();
        auto owner = std::make_shared<int>(0);
        ad->setDataSource(host);
        ad->setDelegate(owner);
        bool ready = false, clicked = false;
        ad->requestSuccessSelector = [&](AdlarkAd&) { ready = true; };
        ad->clickSuccessSelector = [&](AdlarkAd&) { clicked = true; };
        ad->request();
        ASSERT_TRUE(waitFor([&] { return ready; }));
        ad->click();
        ASSERT_TRUE(waitFor([&] { return clicked; }));
        ad->setDelegate({});
    }
    EXPECT_EQ(system->opened, std::vector<std::string> { "quorvane-app://open/ad" }) << "the file address is not handed over";
}

} // namespace
