// The embedded browser: its frames and bar items, the navigation filter,
// the failure alerts, the mail link and the hand-over to the system, and a
// whole visit of adnet's landing pages with the headless engine.
#include "ads/AdlarkController.h"
#include "ads/AdlarkView.h"
#include "ads/landing/AdlarkBrowserController.h"
#include "ads/AdlarkAd.h"
#include "tests/ads/landing/LandingTestSupport.h"

#include "kit/ui/AlertView.h"
#include "kit/web/HeadlessWebEngine.h"
#include "kit/core/Localization.h"
#include "kit/net/URLEscape.h"

using namespace landingtest;
using Decision = AdlarkBrowserController::Decision;

namespace {

TEST(BrowserFilter, DecidesByTheTable)
{
    const std::pair<const char*, Decision> cases[] = {
        { "file:///etc/passwd", Decision::Refuse },
        { "FILE:///etc/passwd", Decision::Refuse },
        { "about:blank", Decision::Load },
        { "mailto:a@b.test", Decision::HandToSystem },
        { "tel:123", Decision::HandToSystem },
        { "itms://store.test/app", Decision::HandToSystem },
        { "HTTP://plain.test/", Decision::HandToSystem },
        { "http://maps.atlasview.test/?q=x", Decision::HandToSystem },
        { "https://local.atlasview.co.test/", Decision::HandToSystem },
        { "http://www.maps.atlasview.test/", Decision::Load },
        { "http://www.clipstream.example/watch?v=1", Decision::HandToSystem },
        { "http://clipstream.example/v/abc", Decision::HandToSystem },
        { "http://clipstream.example/", Decision::Load },
        { "http://m.clipstream.example/watch?v=1", Decision::Load },
        { "http://www.clipstream.example/about", Decision::Load },
        { "http://store.tunevault.test/album", Decision::HandToSystem },
        { "http://ax.media.tunevault.test/x", Decision::HandToSystem },
        { "http://shop.store.tunevault.test/x", Decision::Load },
        { "http://ads.example.test/landing.html", Decision::Load },
    };
    for (auto& [address, expected] : cases) {
        auto url = kit::URL::withString(address);
        ASSERT_TRUE(url) << address;
        EXPECT_EQ(AdlarkBrowserController::navigationDecision(*url), expected) << address;
    }
}

TEST(BrowserFailures, MessagesByCode)
{
    const std::pair<int, const char*> cases[] = {
        { -999, "" },
        { -3005, "That file can't be displayed." }, { -3000, "That file can't be displayed." },
        { -1101, "That file can't be displayed." }, { -1100, "That file can't be displayed." },
        { -2000, "Couldn't connect to that page." }, { -1009, "Couldn't connect to that page." },
        { -1008, "Couldn't connect to that page." }, { -1005, "Couldn't connect to that page." },
        { -1004, "Couldn't connect to that page." }, { -1001, "Couldn't connect to that page." },
        { -1204, "That page is not secure." }, { -1200, "That page is not secure." },
        { -1103, "That page is too large to load." },
        { -1002, "That page is not supported." }, { -1000, "That page is not supported." },
        { -1003, "That page could not be loaded." }, { -1, "That page could not be loaded." },
        { -1199, "That page could not be loaded." }, { -1205, "That page could not be loaded." },
    };
    for (auto& [code, message] : cases)
        EXPECT_EQ(AdlarkBrowserController::failureMessage(code), message) << code;
}

TEST(Localisation, EnglishKeysWithOneLinuxText)
{
    EXPECT_EQ(kit::localizedString("Launch Safari"), "Open in Browser");
    EXPECT_EQ(kit::localizedString("Email link"), "Email link");
    EXPECT_EQ(kit::localizedString("Whoops"), "Whoops");
    auto saved = kit::localizationTable();
    kit::setLocalizationTable({ { "Whoops", "Hoppla" } });
    EXPECT_EQ(kit::localizedString("Whoops"), "Hoppla");
    EXPECT_EQ(kit::localizedString("Launch Safari"), "Launch Safari");
    kit::setLocalizationTable(saved);
}

class EmbeddedBrowser : public LandingTest {
protected:
    void SetUp() override
    {
        LandingTest::SetUp();
        browser = AdlarkModalController::create<AdlarkBrowserController>();
        browser->setAdlarkDelegate(host);
    }
    void open(const std::string& address)
    {
        browser->presentBrowserFromView(adView, *kit::URL::withString(address));
    }
    bool loaded()
    {
        return waitFor([&] { return browser->webView() && !browser->webView()->isLoading(); }) && (advance(0), true);
    }
    kit::HeadlessWebEngine& engine() { return static_cast<kit::HeadlessWebEngine&>(browser->webView()->engine()); }
    std::vector<std::string> bottomItems() const
    {
        std::vector<std::string> out;
        for (auto& item : browser->bottomToolbar()->items())
            out.push_back(item->isFlexibleSpace() ? "-" : item->title() + (item->isEnabled() ? "" : "(off)"));
        return out;
    }
    void follow(const std::string& text)
    {
        for (auto& link : engine().links())
            if (link.text == text) {
                engine().navigate(kit::URLRequest::requestWithURL(link.url), kit::WebViewNavigationType::LinkClicked);
                return;
            }
        ADD_FAILURE() << "no link " << text;
    }

    const std::string landing = "http://ads.example.test/landing.html";
    std::shared_ptr<AdlarkBrowserController> browser;
};

TEST_F(EmbeddedBrowser, LaysOutTheBarsAndFollowsTheLoadingState)
{
    host->barStyle = 1;
    host->tint = kit::Color::rgba(0.5f, 0, 0, 1);
    open(landing);
    auto* modal = browser->modalView().get();
    ASSERT_NE(modal, nullptr);
    EXPECT_EQ(modal->frame(), (kit::Rect { 0, 0, 320, 460 }));
    EXPECT_EQ(modal->backgroundColor(), kit::Color::rgba(0, 1, 0, 1));
    EXPECT_EQ(browser->topToolbar()->frame(), (kit::Rect { 0, 0, 320, 44 }));
    EXPECT_EQ(browser->webView()->frame(), (kit::Rect { 0, 44, 320, 372 }));
    EXPECT_EQ(browser->bottomToolbar()->frame(), (kit::Rect { 0, 416, 320, 44 }));
    ASSERT_EQ(modal->subviews().size(), 3u);
    EXPECT_EQ(modal->subviews()[0].get(), browser->bottomToolbar());
    EXPECT_EQ(modal->subviews()[1].get(), browser->topToolbar());
    EXPECT_EQ(modal->subviews()[2].get(), browser->webView());
    EXPECT_EQ(browser->topToolbar()->barStyle(), kit::BarStyle::Black);
    EXPECT_EQ(browser->bottomToolbar()->tintColor(), host->tint);

    // Loading: Stop, a single turning spinner, no title.
    EXPECT_EQ(bottomItems(), (std::vector<std::string> { "back_disable(off)", "-", "forward_disable(off)", "-", "Stop", "-", "Action" }));
    auto& items = browser->bottomToolbar()->items();
    EXPECT_EQ(items[1], items[3]) << "one flexible space object fills the three places";
    browser->refreshTopToolbar();
    browser->refreshTopToolbar();
    ASSERT_NE(browser->spinner(), nullptr);
    EXPECT_EQ(browser->spinner()->frame(), (kit::Rect { 150, 12, 20, 20 }));
    int spinners = 0;
    for (auto& v : browser->topToolbar()->subviews())
        spinners += v->className() == "UIActivityIndicatorView";
    EXPECT_EQ(spinners, 1);
    EXPECT_EQ(browser->topNavItem()->leftBarButtonItem()->title(), "Done");

    ASSERT_TRUE(loaded());
    EXPECT_EQ(browser->spinner(), nullptr);
    EXPECT_EQ(browser->topNavItem()->title(), "Quorvane ad landing page");
    EXPECT_EQ(browser->topToolbar()->titleLabel()->text(), "Quorvane ad landing page");
    EXPECT_EQ(bottomItems(), (std::vector<std::string> { "back_disable(off)", "-", "forward_disable(off)", "-", "Refresh", "-", "Action" }));
}

TEST_F(EmbeddedBrowser, VisitsTheLandingPagesAndHandsOverWhatIsNotForIt)
{
    open(landing);
    ASSERT_TRUE(loaded());
    advance(0.8);
    EXPECT_EQ(host->notices, std::vector<std::string> { "willPresentWebView" });

    follow("Next page");
    ASSERT_TRUE(loaded());
    EXPECT_EQ(browser->topNavItem()->title(), "Second landing page");
    EXPECT_EQ(bottomItems()[0], "back");
    browser->bottomToolbar()->viewForItem(*browser->bottomToolbar()->items()[0])->sendAction(); // back
    ASSERT_TRUE(loaded());
    EXPECT_EQ(browser->topNavItem()->title(), "Quorvane ad landing page");
    EXPECT_EQ(bottomItems()[2], "forward");
    browser->bottomToolbar()->viewForItem(*browser->bottomToolbar()->items()[2])->sendAction(); // forward
    ASSERT_TRUE(loaded());
    EXPECT_EQ(browser->topNavItem()->title(), "Second landing page");
    browser->webView()->goBack();
    ASSERT_TRUE(loaded());

    follow("Watch the video");
    follow("Write to us");
    follow("A local file");
    follow("Video site start page");
    advance(0);
    EXPECT_EQ(system->opened, (std::vector<std::string> { "http://www.clipstream.example/watch?v=quorvane", "mailto:ads@example.test?subject=Hello" }));
    EXPECT_TRUE(browser->webView()->isLoading()) << "the video site's start page loads here";
    browser->webView()->stopLoading();
    advance(0);
    EXPECT_TRUE(app->popups().empty()) << "a stopped load is silent";

    follow("A page that fails");
    ASSERT_TRUE(loaded());
    auto* alert = app->frontPopup();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), "Whoops");
    EXPECT_EQ(alert->message(), "Couldn't connect to that page.");
    EXPECT_EQ(alert->buttonTitles(), std::vector<std::string> { "Ok" });
    alert->dismissWithClickedButtonIndex(0, true);
    EXPECT_EQ(host->notices.size(), 1u) << "the browser stays open";

    browser->topToolbar()->leftButtonView()->sendAction(); // Done
    advance(0.2 + 0.5 + 0.1);
    EXPECT_EQ(host->notices, (std::vector<std::string> { "willPresentWebView", "didDismissWebView" }));
    EXPECT_EQ(window->subviews().size(), 1u);
}

TEST_F(EmbeddedBrowser, HandedOverAddressesAreAnsweredYesAndLeaveThePageAsItWas)
{
    open(landing);
    ASSERT_TRUE(loaded());
    auto* web = browser->webView();
    EXPECT_TRUE(web->scalesPageToFit());
    EXPECT_TRUE(engine().scalesPageToFit()) << "the engine was told";
    const std::vector<std::string> handed { "mailto:ads@example.test?subject=Hello", "tel:+15550100",
        "itms://store.tunevault.test/album/quorvane", "http://store.tunevault.test/album" };
    for (auto& address : handed) {
        auto request = kit::URLRequest::requestWithURL(kit::URL::withString(address));
        EXPECT_TRUE(web->delegate()->webViewShouldStartLoadWithRequest(*web, request, kit::WebViewNavigationType::LinkClicked))
            << address << ": handed over, and still yes";
        ASSERT_FALSE(system->opened.empty());
        EXPECT_EQ(system->opened.back(), address);
    }
    system->opened.clear();
    for (auto* text : { "Write to us", "Call us", "Buy the album" }) {
        follow(text);
        advance(0);
        EXPECT_FALSE(web->isLoading()) << text;
        EXPECT_EQ(web->request()->absoluteString(), landing) << text;
        EXPECT_EQ(bottomItems()[4], "Refresh") << text;
    }
    EXPECT_EQ(system->opened, (std::vector<std::string> { handed[0], handed[1], handed[2] }));
    EXPECT_EQ(browser->topNavItem()->title(), "Quorvane ad landing page");

    // A failed load leaves the page shown, with its title, links and history.
    follow("Next page");
    ASSERT_TRUE(loaded());
    follow("Back to the first page");
    ASSERT_TRUE(loaded());
    follow("A page that fails");
    ASSERT_TRUE(loaded());
    ASSERT_NE(app->frontPopup(), nullptr);
    app->frontPopup()->dismissWithClickedButtonIndex(0, true);
    advance(0);
    EXPECT_EQ(web->title(), "Quorvane ad landing page");
    EXPECT_EQ(browser->topNavItem()->title(), "Quorvane ad landing page");
    EXPECT_EQ(bottomItems()[0], "back");
    follow("Next page");
    ASSERT_TRUE(loaded());
    EXPECT_EQ(browser->topNavItem()->title(), "Second landing page");
}

TEST_F(EmbeddedBrowser, TheActionSheetOpensTheAddressOrMailsALink)
{
    open("http://ads.example.test/echo?body=%3Ctitle%3EA%20%26%20B%20%3D%20C%3C%2Ftitle%3E");
    ASSERT_TRUE(loaded());
    EXPECT_EQ(browser->topNavItem()->title(), "A & B = C");
    auto pressAction = [&](int index) {
        browser->bottomToolbar()->viewForItem(*browser->bottomToolbar()->items()[6])->sendAction();
        auto* sheet = app->frontPopup();
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->className(), "UIActionSheet");
        EXPECT_EQ(sheet->buttonTitles(), (std::vector<std::string> { "Open in Browser", "Email link", "Cancel" }));
        sheet->dismissWithClickedButtonIndex(index, true);
        advance(0);
    };
    pressAction(2);
    EXPECT_TRUE(system->opened.empty()) << "Cancel does nothing";
    pressAction(0);
    pressAction(1);
    ASSERT_EQ(system->opened.size(), 2u);
    EXPECT_EQ(system->opened[0], browser->webView()->request()->absoluteString());
    EXPECT_EQ(system->opened[1],
        "mailto:?subject=A%20&%20B%20=%20C&body=" + kit::stringByAddingPercentEscapes(browser->webView()->request()->absoluteString()))
        << "\"&\" and \"=\" of the title stay as they are";
    EXPECT_EQ(host->notices.size(), 1u) << "the browser stays open";
}

TEST_F(EmbeddedBrowser, AFileAddressFromTheServerGoesNowhere)
{
    open("file:///etc/hostname");
    advance(1);
    EXPECT_FALSE(browser->webView()->request()) << "never loaded";
    browser->launchSafari();
    EXPECT_TRUE(system->opened.empty());
}

// As the ad controller does on a web ad's click.
TEST_F(EmbeddedBrowser, AReadyWebAdsClickOpensTheLandingPage)
{
    auto ad = AdlarkAd::create();
    auto owner = std::make_shared<int>(0);
    ad->setDataSource(host);
    ad->setDelegate(owner);
    bool ready = false;
    ad->requestSuccessSelector = [&](AdlarkAd&) { ready = true; };
    ad->displayEmbeddedBrowserSelector = [&](AdlarkAd&, const std::string& url) { open(url); };
    ad->request();
    ASSERT_TRUE(waitFor([&] { return ready; }));
    ad->click();
    ASSERT_TRUE(waitFor([&] { return browser->webView() && browser->topNavItem()->title() == "Quorvane ad landing page"; }));
    EXPECT_EQ(browser->webView()->request()->absoluteString(), landing);
    ad->setDelegate({});
}

TEST_F(EmbeddedBrowser, AnOpenPageLetsGoOfItsBannerWhenTheHostGoes)
{
    // The banner holds its controller, the controller its page, and an open
    // page the banner: when the host goes, the three must go with it.
    auto banner = AdlarkView::requestAdWithDelegate(host);
    box->addSubview(banner);
    auto* internal = static_cast<AdlarkViewInternal*>(banner.get());
    auto ad = AdlarkAd::create();
    internal->controller()->displayEmbeddedBrowserWithAd(*ad, landing);
    std::weak_ptr<AdlarkBrowserController> page = internal->controller()->browserController();
    ASSERT_FALSE(page.expired());
    ASSERT_TRUE(waitFor([&] { return page.lock()->webView() && !page.lock()->webView()->isLoading(); }));
    std::weak_ptr<kit::View> weak = banner;
    banner->hostWillGo();
    banner->removeFromSuperview();
    banner.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(page.expired());
}

} // namespace
