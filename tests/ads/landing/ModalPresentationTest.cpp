// The modal presentation on a plain page: where the background grows from,
// the timing of each step, the deferred close, which taps close, the order of
// the host's notices and the single release under repeated close requests.
#include "ads/landing/AdlarkModalController.h"
#include "tests/ads/landing/LandingTestSupport.h"

#include "kit/ui/ViewAnimation.h"

using namespace landingtest;

namespace {

class PlainModal : public AdlarkModalController {
public:
    PlainModal()
    {
        willPresentSelector = &AdlarkDelegate::willPresentWebView;
        didDismissSelector = &AdlarkDelegate::didDismissWebView;
    }
    void present(std::shared_ptr<kit::View> adView)
    {
        auto page = kit::View::create(kit::Rect { 0, 82.5f, 320, 295 });
        page->addSubview(kit::View::create(kit::Rect { 10, 10, 50, 50 }));
        m_page = page;
        setModalView(page);
        presentModalFromView(std::move(adView));
    }
    std::weak_ptr<kit::View> m_page;
};

class ModalPresentation : public LandingTest {
protected:
    void SetUp() override
    {
        LandingTest::SetUp();
        modal = AdlarkModalController::create<PlainModal>();
        modal->setAdlarkDelegate(host);
    }
    std::shared_ptr<PlainModal> modal;
};

TEST_F(ModalPresentation, GrowsFromTheBannerFadesInAndClosesInOrder)
{
    const kit::Rect banner { 10, 20 + 360 + 6, 300, 48 };
    EXPECT_EQ(adView->convertToAncestor(window.get()), banner) << "through the screen and the box";

    std::weak_ptr<kit::View> heldAdView = adView;
    modal->present(adView);
    adView->removeFromSuperview();
    adView.reset();
    EXPECT_FALSE(heldAdView.expired()) << "the controller holds the ad view while the page is up";

    auto* background = modal->background();
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(host->notices, std::vector<std::string> { "willPresentWebView" });
    EXPECT_EQ(background->superview(), window.get());
    EXPECT_EQ(window->subviews().back().get(), background) << "on top of everything";
    EXPECT_EQ(background->initialFrame(), banner);
    EXPECT_EQ(background->backgroundColor(), kit::Color::rgba(0.2f, 0.2f, 0.2f, 0.9f));
    EXPECT_EQ(background->frame(), kit::Window::applicationFrame()) << "the model takes the end value at once";
    auto shown = background->presentationValue(kit::ViewProperty::Frame, kit::RunLoop::main().now());
    ASSERT_TRUE(shown);
    EXPECT_EQ(std::get<kit::Rect>(*shown), banner) << "the display starts from the banner";
    EXPECT_TRUE(modal->presentationAnimationInProgress());

    advance(0.49);
    EXPECT_TRUE(background->subviews().empty()) << "the page waits for the growth";
    advance(0.02);
    ASSERT_EQ(background->subviews().size(), 1u);
    auto page = modal->modalView();
    EXPECT_EQ(page->alpha(), 1);
    EXPECT_TRUE(kit::ViewAnimation::isAnimating(*page)) << "fading in";
    advance(0.2);
    EXPECT_FALSE(modal->presentationAnimationInProgress());

    modal->dismissModal();
    advance(0.19);
    EXPECT_EQ(page->superview(), background) << "fading out";
    advance(0.02);
    EXPECT_EQ(page->superview(), nullptr);
    EXPECT_FALSE(modal->modalView()) << "the page is released after the fade-out";
    EXPECT_EQ(background->frame(), banner) << "shrinking back";
    EXPECT_EQ(host->notices.size(), 1u);
    advance(0.47);
    EXPECT_NE(modal->background(), nullptr);
    EXPECT_EQ(host->notices.size(), 1u) << "nothing before the background has gone";
    advance(0.04);
    EXPECT_EQ(modal->background(), nullptr);
    EXPECT_EQ(window->subviews().size(), 1u);
    EXPECT_EQ(host->notices, (std::vector<std::string> { "willPresentWebView", "didDismissWebView" }));
    EXPECT_TRUE(heldAdView.expired()) << "the hold on the ad view ends with the closing";
}

TEST_F(ModalPresentation, ACloseDuringTheOpeningWaitsHalfASecondAfterTheFadeIn)
{
    modal->present(adView);
    // Taps on the background while it grows and while the page fades in.
    modal->background()->touchesEnded({ 5, 5 });
    advance(0.6);
    modal->background()->touchesEnded({ 5, 5 });
    EXPECT_TRUE(modal->dismissalRequested());
    advance(0.11); // the fade-in ends at 0.7
    EXPECT_FALSE(modal->presentationAnimationInProgress());
    ASSERT_TRUE(modal->dismissalDelayTimer());
    EXPECT_EQ(modal->modalView()->alpha(), 1);
    advance(0.47);
    EXPECT_FALSE(modal->isDismissing());
    advance(0.04);
    EXPECT_TRUE(modal->isDismissing()) << "0.5 s after the fade-in";
    EXPECT_EQ(modal->modalView()->alpha(), 0);
    advance(0.8);
    EXPECT_EQ(host->notices, (std::vector<std::string> { "willPresentWebView", "didDismissWebView" }));
}

TEST_F(ModalPresentation, OnlyTouchesOnTheBackgroundItselfClose)
{
    modal->present(adView);
    advance(0.8);
    auto* background = modal->background();
    // (20, 100) lies on the page's inner view, (200, 200) on the page, (5, 5) and (160, 450) on the background.
    background->touchesEnded({ 20, 100 });
    background->touchesEnded({ 200, 200 });
    EXPECT_FALSE(modal->isDismissing());
    background->touchesEnded({ 160, 450 });
    EXPECT_TRUE(modal->isDismissing());
}

TEST_F(ModalPresentation, RepeatedCloseRequestsEndThePresentationOnce)
{
    modal->present(adView);
    advance(0.8);
    auto* background = modal->background();
    modal->dismissModal();
    background->touchesEnded({ 5, 5 });
    advance(0.1);
    modal->dismissModal();
    advance(0.15); // the page has gone; the background shrinks
    EXPECT_TRUE(modal->m_page.expired()) << "released once, and nobody holds it";
    background->touchesEnded({ 5, 5 });
    modal->dismissModal();
    advance(0.6);
    EXPECT_EQ(host->notices, (std::vector<std::string> { "willPresentWebView", "didDismissWebView" }));
    EXPECT_TRUE(kit::ViewAnimation::activeAnimations().empty());
    modal->dismissModal();
    advance(1);
    EXPECT_EQ(host->notices.size(), 2u);
}

TEST_F(ModalPresentation, AfterTheShrinkTheBackgroundGoesThenTheHostHearsThenTheAdViewIsLetGo)
{
    struct Watcher : NoticeHost {
        void didDismissWebView() override
        {
            NoticeHost::didDismissWebView();
            backgroundInWindow = modal->background() && modal->background()->superview();
            adViewHeld = !adView.expired();
        }
        AdlarkModalController* modal { nullptr };
        std::weak_ptr<kit::View> adView;
        std::optional<bool> backgroundInWindow, adViewHeld;
    };
    auto watcher = std::make_shared<Watcher>();
    watcher->modal = modal.get();
    watcher->adView = adView;
    modal->setAdlarkDelegate(watcher);
    modal->present(adView);
    adView->removeFromSuperview();
    adView.reset();
    advance(0.8);
    modal->dismissModal();
    advance(0.8);
    EXPECT_EQ(watcher->notices, (std::vector<std::string> { "willPresentWebView", "didDismissWebView" }));
    EXPECT_EQ(watcher->backgroundInWindow, false) << "the background has left the window first";
    EXPECT_EQ(watcher->adViewHeld, true) << "the ad view is let go after the notice";
    EXPECT_TRUE(watcher->adView.expired());
}

TEST_F(ModalPresentation, AHostWithoutNoticesSeesThePageOpenAndCloseAllTheSame)
{
    // The host answers only the canvas panel's notices, so it has none of
    // the page's own: it must hear nothing, and the page comes and goes.
    struct CanvasOnly : AdlarkDelegate {
        std::optional<std::string> publisherId() override { return "quiet"; }
        void willPresentModalCanvas() override { heard.push_back("willPresentModalCanvas"); }
        void didDismissModalCanvas() override { heard.push_back("didDismissModalCanvas"); }
        std::vector<std::string> heard;
    };
    auto quiet = std::make_shared<CanvasOnly>();
    modal->setAdlarkDelegate(quiet);
    ASSERT_EQ(modal->adlarkDelegate(), quiet);
    modal->present(adView);
    advance(0.8);
    EXPECT_EQ(modal->modalView()->superview(), modal->background());
    modal->dismissModal();
    advance(0.8);
    EXPECT_EQ(modal->background(), nullptr);
    EXPECT_FALSE(modal->modalView());
    EXPECT_EQ(window->subviews().size(), 1u);
    EXPECT_TRUE(quiet->heard.empty()) << testing::PrintToString(quiet->heard);
    EXPECT_TRUE(host->notices.empty());
}

TEST_F(ModalPresentation, TheControllerMayGoWhileItsAnimationsRun)
{
    modal->present(adView);
    advance(0.3);
    modal.reset();
    advance(2);
    EXPECT_TRUE(host->notices.size() == 1u) << "no message reaches a controller that has gone";
}

} // namespace
