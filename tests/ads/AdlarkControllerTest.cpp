// The ad view and its controller against the project's ad network: first and
// fresh ads, the flip, banner ads kept, failures, and hosts that let the view
// go inside their messages.
#include "TestSupport.h"

#include "ads/AdlarkController.h"
#include "ads/AdlarkDelegate.h"
#include "ads/AdlarkSingleAdView.h"
#include "ads/AdlarkView.h"

#include "kit/ui/ViewAnimation.h"

using namespace adtest;

namespace {

class Host : public AdlarkDelegate {
public:
    std::optional<std::string> publisher = "text";
    std::optional<std::string> publisherId() override { return publisher; }
    std::optional<bool> useEmbeddedWebView() override { return embedded; }
    void didReceiveAd(AdlarkView&) override
    {
        ++received;
        if (dropInMessage)
            view.reset();
    }
    void didFailToReceiveAd(AdlarkView&) override
    {
        ++failed;
        if (dropInMessage)
            view.reset();
    }

    std::shared_ptr<AdlarkView> view;
    int received = 0;
    int failed = 0;
    bool dropInMessage = false;
    std::optional<bool> embedded;
};

class ControllerTest : public LoopTest {
protected:
    void TearDown() override
    {
        host->view.reset();
        kit::ViewAnimation::reset();
        LoopTest::TearDown();
    }
    void start(const std::optional<std::string>& publisher)
    {
        host->publisher = publisher;
        host->view = AdlarkView::requestAdWithDelegate(host);
        controller = static_cast<AdlarkViewInternal&>(*host->view).controller();
    }
    AdlarkSingleAdView* banner() { return dynamic_cast<AdlarkSingleAdView*>(host->view->viewWithTag(1)); }
    size_t adRequests() { return adnet().since("/ad_source.php").size(); }

    std::shared_ptr<Host> host = std::make_shared<Host>();
    std::shared_ptr<AdlarkController> controller;
};

TEST_F(ControllerTest, FirstAdIsToldOnceAndAFreshTextAdFlipsInWithoutAMessage)
{
    start("text");
    EXPECT_EQ(host->view->frame(), (kit::Rect { 0, 0, 320, 48 }));
    EXPECT_EQ(host->view->backgroundColor(), kit::Color::clear());
    EXPECT_TRUE(host->view->subviews().empty());
    ASSERT_TRUE(waitFor([&] { return host->received > 0; }));
    EXPECT_EQ(host->received, 1);
    ASSERT_NE(banner(), nullptr);
    EXPECT_EQ(banner()->frame(), host->view->bounds());
    EXPECT_EQ(banner()->ad(), controller->currentlyDisplayedAd());
    auto first = host->view->subviews().front();

    host->publisher = "other";
    host->view->requestFreshAd();
    auto fresh = controller->loadingAd();
    ASSERT_NE(fresh, nullptr);
    ASSERT_TRUE(waitFor([&] { return controller->loadingAd() == nullptr; }));
    EXPECT_EQ(controller->currentlyDisplayedAd(), fresh);
    EXPECT_EQ(host->received, 1);
    // The new banner is in; the old one, tagged 0, is out and held by the flip.
    ASSERT_NE(banner(), nullptr);
    EXPECT_EQ(banner()->ad(), fresh);
    EXPECT_EQ(banner()->displayText(), "Another ad, fresh from the Quorvane network");
    EXPECT_EQ(first->tag(), 0);
    EXPECT_EQ(first->superview(), nullptr);
    EXPECT_EQ(host->view->subviews().size(), 1u);
    auto flips = kit::ViewAnimation::activeTransitions();
    ASSERT_EQ(flips.size(), 1u);
    EXPECT_EQ(flips[0].transition, kit::AnimationTransition::FlipFromRight);
    EXPECT_EQ(flips[0].view.lock(), host->view);
    EXPECT_DOUBLE_EQ(flips[0].duration, 0.7);
    EXPECT_EQ(flips[0].animationID, "newAdlarkAd");
    std::weak_ptr<kit::View> old = first;
    first.reset();
    kit::RunLoop::main().advance(0.69);
    EXPECT_FALSE(old.expired());
    kit::RunLoop::main().advance(0.01);
    EXPECT_TRUE(old.expired());
    EXPECT_TRUE(kit::ViewAnimation::activeTransitions().empty());
}

TEST_F(ControllerTest, BannerAdsAreNeverReplaced)
{
    start("banner");
    ASSERT_TRUE(waitFor([&] { return host->received > 0; }));
    EXPECT_EQ(controller->currentlyDisplayedAd()->medium(), AdlarkAd::MediumBanner);
    size_t before = adRequests();
    host->publisher = "text";
    host->view->requestFreshAd();
    EXPECT_EQ(controller->loadingAd(), nullptr);
    kit::RunLoop::main().runUntil([] { return false; }, 0.3);
    EXPECT_EQ(adRequests(), before);
}

TEST_F(ControllerTest, ASecondFreshRequestDropsTheFirstWithItsDownloads)
{
    start("text");
    ASSERT_TRUE(waitFor([&] { return host->received > 0; }));
    host->publisher = "slow";
    host->view->requestFreshAd();
    std::weak_ptr<AdlarkAd> dropped = controller->loadingAd();
    ASSERT_TRUE(waitFor([&] { return adnet().since("/ad_source.php").size() == 2; }));
    EXPECT_EQ(dropped.lock()->activeDownloadCount(), 1u);
    host->publisher = "other";
    host->view->requestFreshAd();
    EXPECT_TRUE(dropped.expired()); // and its download with it
    ASSERT_TRUE(waitFor([&] { return controller->loadingAd() == nullptr; }));
    EXPECT_EQ(banner()->displayText(), "Another ad, fresh from the Quorvane network");
    auto requests = adnet().since("/ad_source.php");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].param("s"), "slow");
    EXPECT_EQ(requests[2].param("s"), "other");
    EXPECT_EQ(host->received, 1);
}

TEST_F(ControllerTest, AFreshAdReadyBeforeTheFirstTakesItsPlaceSilently)
{
    start("slow");
    ASSERT_TRUE(waitFor([&] { return adRequests() == 1; }));
    std::weak_ptr<AdlarkAd> first = controller->currentlyDisplayedAd();
    host->publisher = "text";
    host->view->requestFreshAd();
    ASSERT_TRUE(waitFor([&] { return controller->loadingAd() == nullptr; }));
    EXPECT_TRUE(first.expired());
    ASSERT_NE(banner(), nullptr);
    EXPECT_EQ(banner()->ad(), controller->currentlyDisplayedAd());
    EXPECT_EQ(host->received, 0);
    EXPECT_EQ(kit::ViewAnimation::activeTransitions().size(), 1u); // flipping in over an empty view
}

TEST_F(ControllerTest, AFailedFreshAdLeavesTheBannerAndAFailedFirstIsToldOnce)
{
    start("text");
    ASSERT_TRUE(waitFor([&] { return host->received > 0; }));
    auto* shown = banner();
    host->publisher = "status404";
    host->view->requestFreshAd();
    ASSERT_TRUE(waitFor([&] { return controller->loadingAd() == nullptr; }));
    EXPECT_EQ(banner(), shown);
    EXPECT_EQ(host->failed, 0);
    EXPECT_TRUE(kit::ViewAnimation::activeTransitions().empty());

    auto other = std::make_shared<Host>();
    other->publisher = "status500";
    other->view = AdlarkView::requestAdWithDelegate(other);
    ASSERT_TRUE(waitFor([&] { return other->failed > 0; }));
    auto& failedController = *static_cast<AdlarkViewInternal&>(*other->view).controller();
    EXPECT_EQ(failedController.currentlyDisplayedAd(), nullptr);
    EXPECT_TRUE(other->view->subviews().empty());
    // A later fresh request puts its ad in without a word to the host.
    other->publisher = "text";
    other->view->requestFreshAd();
    ASSERT_TRUE(waitFor([&] { return failedController.loadingAd() == nullptr; }));
    EXPECT_NE(other->view->viewWithTag(1), nullptr);
    EXPECT_EQ(other->received, 0);
    EXPECT_EQ(other->failed, 1);
}

TEST_F(ControllerTest, AFirstAdFailingWhileItsRequestStartsIsToldBeforeTheViewIsReturned)
{
    // Without a publisher there is no request to send, and without the
    // embedded browser no icons to fetch first: the first ad fails inside
    // requestAdWithDelegate, and the host hears of it all the same.
    host->embedded = false;
    start(std::nullopt);
    EXPECT_EQ(host->failed, 1);
    EXPECT_EQ(host->received, 0);
    EXPECT_EQ(controller->currentlyDisplayedAd(), nullptr);
    EXPECT_TRUE(host->view->subviews().empty());
    kit::RunLoop::main().runUntil([] { return false; }, 0.2);
    EXPECT_EQ(host->failed, 1);
    EXPECT_EQ(adRequests(), 0u);
}

TEST_F(ControllerTest, AHostMayDropTheViewInsideItsMessages)
{
    host->dropInMessage = true;
    start("text");
    std::weak_ptr<AdlarkController> weak = controller;
    controller.reset();
    ASSERT_TRUE(waitFor([&] { return host->received > 0; }));
    EXPECT_EQ(host->view, nullptr);
    EXPECT_TRUE(weak.expired()); // kept only while the message was handled

    auto failing = std::make_shared<Host>();
    failing->dropInMessage = true;
    failing->publisher = "status404";
    failing->view = AdlarkView::requestAdWithDelegate(failing);
    ASSERT_TRUE(waitFor([&] { return failing->failed > 0; }));
    EXPECT_EQ(failing->view, nullptr);
}

TEST_F(ControllerTest, ASecondTapWhileTheBannerAnswersTheFirstSendsNoSecondClick)
{
    start("text");
    ASSERT_TRUE(waitFor([&] { return host->received > 0; }));
    // The ad's click leads nowhere, so only the feedback runs.
    controller->currentlyDisplayedAd()->setDelegate({});
    auto iconFrame = banner()->actionIconLayer()->frame();
    auto tap = [&] {
        banner()->touchesBegan({ 100, 20 });
        banner()->touchesEnded({ 100, 20 });
    };
    tap();
    ASSERT_TRUE(banner()->animatingForClick());
    kit::RunLoop::main().advance(0.2);
    tap(); // within the pulse
    kit::RunLoop::main().advance(0.4);
    ASSERT_EQ(banner()->actionIconLayer(), nullptr);
    tap(); // waiting for the spinner
    ASSERT_TRUE(waitFor([&] { return adnet().since("/click.php").size() >= 1; }));
    kit::RunLoop::main().runUntil([] { return false; }, 0.3);
    EXPECT_EQ(adnet().since("/click.php").size(), 1u) << "one click request";
    kit::RunLoop::main().advance(0.3);
    auto* spinner = banner()->viewWithTag(2);
    ASSERT_NE(spinner, nullptr);
    EXPECT_EQ(spinner->center(), (kit::Point { iconFrame.x() + iconFrame.width() / 2, iconFrame.y() + iconFrame.height() / 2 }))
        << "where the icon was";
}

TEST_F(ControllerTest, AClickEndingAfterItsBannerWasReplacedTouchesNothing)
{
    start("text");
    ASSERT_TRUE(waitFor([&] { return host->received > 0; }));
    auto clicked = controller->currentlyDisplayedAd();
    banner()->animateActionIconForClick();
    host->view->requestFreshAd();
    ASSERT_TRUE(waitFor([&] { return controller->loadingAd() == nullptr; }));
    ASSERT_NE(banner()->ad(), clicked);
    controller->clickDidSucceed(*clicked);
    EXPECT_FALSE(banner()->removeSpinnerRequested());
    EXPECT_FALSE(banner()->hasRemoveSpinnerTimer());
    // The banner on display does react to its own ad's end of click.
    controller->clickDidFail(*banner()->ad());
    EXPECT_TRUE(banner()->hasRemoveSpinnerTimer());
}

} // namespace
