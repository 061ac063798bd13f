// The banner view: its drawing (from the recorded operations), its touches
// and highlight, and its click feedback on the manual clock.
#include "ads/AdlarkAd.h"
#include "ads/AdlarkController.h"
#include "ads/AdlarkDelegate.h"
#include "ads/AdlarkSingleAdView.h"
#include "ads/AdlarkView.h"

#include "kit/ui/ActivityIndicatorView.h"
#include "kit/gfx/Fonts.h"
#include "kit/gfx/RecordingContext.h"
#include "kit/core/RunLoop.h"
#include "kit/ui/ViewAnimation.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<const kit::Image> picture(int w, int h)
{
    return kit::Image::fromRGBA(w, h, std::vector<uint8_t>(size_t(w) * h * 4, 200));
}

class BlackAndWhite : public AdlarkDelegate {
public:
    std::optional<std::string> publisherId() override { return std::string("text"); }
    std::optional<kit::Color> adBackgroundColor() override { return kit::Color::rgba(0, 0, 0, 1); }
    std::optional<kit::Color> adTextColor() override { return textColor; }
    std::optional<bool> useGraySpinner() override { return gray; }
    bool gray = false;
    std::optional<kit::Color> textColor;
};

class BannerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kit::RunLoop::main().reset();
        clock = &kit::RunLoop::main().useManualClock();
        kit::ViewAnimation::reset();
    }
    void TearDown() override
    {
        kit::Fonts::setMeasureOverride({});
        kit::ViewAnimation::reset();
        kit::RunLoop::main().reset();
    }

    std::shared_ptr<AdlarkSingleAdView> banner(AdlarkAd::Content content)
    {
        auto ad = AdlarkAd::createReady(std::move(content));
        ad->setDataSource(source);
        auto view = AdlarkSingleAdView::initWithFrame({ 0, 0, 320, 48 });
        view->setAd(ad);
        return view;
    }
    std::shared_ptr<AdlarkSingleAdView> workedBanner(const char* text = "Try the Quorvane test ad")
    {
        return banner({ AdlarkAd::MediumText, std::string(text), picture(38, 38), picture(30, 30) });
    }
    static std::vector<kit::DrawOperation> drawing(AdlarkSingleAdView& view)
    {
        kit::RecordingContext context;
        view.drawRect(context, view.bounds());
        return context.operations();
    }
    static std::vector<kit::DrawOperation> named(const std::vector<kit::DrawOperation>& ops, const std::string& name)
    {
        std::vector<kit::DrawOperation> out;
        for (auto& op : ops)
            if (op.name == name)
                out.push_back(op);
        return out;
    }
    void advanceTo(double t) { kit::RunLoop::main().advance(t - kit::RunLoop::main().now()); }

    kit::ManualClock* clock { nullptr };
    std::shared_ptr<BlackAndWhite> source = std::make_shared<BlackAndWhite>();
};

TEST_F(BannerTest, WorkedLayoutOfATextAd)
{
    std::vector<kit::Size> constraints;
    kit::Fonts::setMeasureOverride([&](const std::string& text, const kit::Font& font, std::optional<kit::Size> c) {
        if (c)
            constraints.push_back(*c);
        return text == AdlarkSingleAdView::caption ? kit::Size { 59, 10 } : kit::Size { 154, 13 };
    });
    auto view = workedBanner();
    auto ops = drawing(*view);
    ASSERT_FALSE(ops.empty());
    // The shine: white, then the base colour half-transparent at the top
    // turning into the full colour at 43.75 % of the height.
    EXPECT_EQ(ops[0].toString(), "setFillColor 1 1 1 1");
    EXPECT_EQ(ops[1].toString(), "fillRect 0 0 320 48");
    EXPECT_EQ(ops[2].toString(), "drawLinearGradient 0 0 0 0.5 0 0 0 1 160 0 160 21");
    // The icon at (4, 4.5), its footprint 39 × 39, clipped half a point in.
    EXPECT_EQ(AdlarkSingleAdView::sizeWithBevelsAndRoundedCornersForImage(picture(38, 38).get()), (kit::Size { 39, 39 }));
    EXPECT_EQ(named(ops, "moveTo")[0].toString(), "moveTo 4.5 12");
    auto arcs = named(ops, "addArcToPoint");
    ASSERT_EQ(arcs.size(), 6u);
    EXPECT_EQ(arcs[0].toString(), "addArcToPoint 4.5 43 42.5 43 7"); // the clip's bottom-left
    EXPECT_EQ(arcs[3].toString(), "addArcToPoint 4.5 5 4.5 43 7");   // the clip's top-left
    // The bevel: dark top-left corner, light bottom-right, radius 6.5.
    EXPECT_EQ(arcs[4].toString(), "addArcToPoint 4.25 4.75 10.75 4.75 6.5");
    EXPECT_EQ(arcs[5].toString(), "addArcToPoint 42.75 43.25 36.25 43.25 6.5");
    auto circles = named(ops, "addArc");
    ASSERT_EQ(circles.size(), 4u);
    EXPECT_EQ(circles[0].values[0], 42.75f - 6.5f); // top-right corner's centre
    EXPECT_EQ(circles[3].values[1], 43.25f - 6.5f); // bottom-left corner's centre
    EXPECT_EQ(named(ops, "drawImage")[0].toString(), "drawImage 4 4.5 38 38");
    EXPECT_EQ(named(ops, "strokePath").size(), 3u);
    // The text area from x = 51 to x = 278: measured in its width and the
    // banner's height; text and caption centred as one block.
    ASSERT_EQ(constraints.size(), 1u);
    EXPECT_EQ(constraints[0], (kit::Size { 227, 48 }));
    auto texts = named(ops, "drawText");
    ASSERT_EQ(texts.size(), 2u);
    float y = (48 - (13 + 4 + 10)) * 0.5f;
    EXPECT_EQ(texts[0].toString(), "drawText 51 " + kit::formatFloat(y) + " 154 13 13 \"Helvetica-Bold\" \"Try the Quorvane test ad\"");
    EXPECT_EQ(texts[1].toString(), "drawText 219 " + kit::formatFloat(y + 17) + " 59 10 9.5 \"Helvetica\" \"Ads by Adlark\"");
    // The action icon is a layer, not drawn.
    ASSERT_EQ(view->layer().sublayers().size(), 1u);
    EXPECT_EQ(view->actionIconLayer()->frame(), (kit::Rect { 286, 9, 30, 30 }));
}

TEST_F(BannerTest, TheBevelsTwoGreysAndAnglesAndTheTextInTheAdsColour)
{
    source->textColor = kit::Color::rgba(0.25f, 0.5f, 0.75f, 1);
    auto ops = drawing(*workedBanner());
    // Dark left and top, light right and bottom, half a point wide.
    auto strokes = named(ops, "setStrokeColor");
    ASSERT_EQ(strokes.size(), 3u);
    EXPECT_EQ(strokes[0].toString(), "setStrokeColor 0.4 0.4 0.4 1");
    EXPECT_EQ(strokes[1].toString(), "setStrokeColor 0.937 0.937 0.937 1");
    EXPECT_EQ(strokes[2].toString(), "setStrokeColor 0.4 0.4 0.4 1");
    auto widths = named(ops, "setLineWidth");
    ASSERT_EQ(widths.size(), 1u);
    EXPECT_EQ(widths[0].values[0], 0.5f);
    // The colour changes at the 45° points of the top-right and bottom-left corners.
    const float pi = 3.14159265f;
    auto circles = named(ops, "addArc");
    ASSERT_EQ(circles.size(), 4u);
    const float angles[4][2] = { { 3 * pi / 2, 7 * pi / 4 }, { 7 * pi / 4, 2 * pi }, { pi / 2, 3 * pi / 4 }, { 3 * pi / 4, pi } };
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(circles[i].values[2], 6.5f) << i;
        EXPECT_FLOAT_EQ(circles[i].values[3], angles[i][0]) << i;
        EXPECT_FLOAT_EQ(circles[i].values[4], angles[i][1]) << i;
    }
    // Text and caption in the ad's text colour, set once before both.
    std::string fill;
    int texts = 0;
    for (auto& op : ops) {
        if (op.name == "setFillColor")
            fill = op.toString();
        if (op.name == "drawText") {
            ++texts;
            EXPECT_EQ(fill, "setFillColor 0.25 0.5 0.75 1") << op.toString();
        }
    }
    EXPECT_EQ(texts, 2);
}

TEST_F(BannerTest, CaptionUpToATextHeightOf24)
{
    float textHeight = 0;
    kit::Fonts::setMeasureOverride([&](const std::string& text, const kit::Font&, std::optional<kit::Size>) {
        return text == AdlarkSingleAdView::caption ? kit::Size { 59, 10 } : kit::Size { 200, textHeight };
    });
    auto view = workedBanner();
    textHeight = 24.0f;
    auto withCaption = named(drawing(*view), "drawText");
    ASSERT_EQ(withCaption.size(), 2u);
    EXPECT_EQ(withCaption[0].values[1], (48 - (24.0f + 4 + 10)) * 0.5f);
    EXPECT_EQ(withCaption[1].strings[1], "Ads by Adlark");
    textHeight = 24.5f;
    auto alone = named(drawing(*view), "drawText");
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_EQ(alone[0].values[1], (48 - 24.5f) * 0.5f);
    EXPECT_EQ(alone[0].values[3], 24.5f);
}

TEST_F(BannerTest, MediaOtherThanTextAndAdsNotReady)
{
    auto bannerAd = banner({ AdlarkAd::MediumBanner, std::nullopt, picture(320, 48), picture(16, 16) });
    auto ops = drawing(*bannerAd);
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].toString(), "drawImage 0 0 320 48");
    EXPECT_EQ(bannerAd->actionIconLayer()->frame(), (kit::Rect { 300, 16, 16, 16 }));

    auto other = banner({ 2, std::string("never shown"), picture(38, 38), nullptr });
    ops = drawing(*other);
    ASSERT_EQ(ops.size(), 3u); // the shine background only
    EXPECT_EQ(ops[2].name, "drawLinearGradient");
    // No action image: an empty layer of size zero at the right inset.
    EXPECT_EQ(other->actionIconLayer()->frame(), (kit::Rect { 316, 24, 0, 0 }));

    auto notReady = AdlarkAd::create();
    auto view = AdlarkSingleAdView::initWithFrame({ 0, 0, 320, 48 });
    view->setAd(notReady);
    EXPECT_TRUE(drawing(*view).empty());
    EXPECT_EQ(view->recordDrawing(), "");
}

// A banner inside an ad view whose controller takes the taps.
class TouchTest : public BannerTest {
protected:
    void SetUp() override
    {
        BannerTest::SetUp();
        adView = kit::View::create<AdlarkViewInternal>(kit::Rect { 0, 0, 320, 48 });
        controller = AdlarkController::create();
        controller->setView(adView);
        adView->setController(controller);
        view = workedBanner();
        view->setTag(1);
        adView->addSubview(view);
    }
    int overlays() const
    {
        int n = 0;
        for (auto& sub : view->subviews())
            n += sub->tag() == AdlarkSingleAdView::highlightTag;
        return n;
    }

    std::shared_ptr<AdlarkViewInternal> adView;
    std::shared_ptr<AdlarkController> controller;
    std::shared_ptr<AdlarkSingleAdView> view;
};

TEST_F(TouchTest, HighlightFollowsTheFingerAndOnlyALiftInsideClicks)
{
    view->touchesBegan({ 100, 20 });
    view->touchesBegan({ 100, 20 });
    EXPECT_EQ(overlays(), 1);
    auto* overlay = view->viewWithTag(3);
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(overlay->frame(), (kit::Rect { 0, 0, 320, 48 }));
    EXPECT_EQ(overlay->backgroundColor(), kit::colorWithWhite(0.5f, 0.5f));
    view->touchesMoved({ 100, 48 }); // the bottom edge is outside
    EXPECT_EQ(overlays(), 0);
    EXPECT_FALSE(view->touched());
    view->touchesMoved({ 0, 0 }); // the top-left corner is inside
    EXPECT_EQ(overlays(), 1);
    view->touchesMoved({ 320, 10 });
    view->touchesEnded({ 320, 10 });
    EXPECT_EQ(overlays(), 0);
    EXPECT_FALSE(view->animatingForClick()); // no click
    view->touchesBegan({ 10, 10 });
    view->touchesCancelled();
    EXPECT_EQ(overlays(), 0);
    EXPECT_FALSE(view->animatingForClick());
    view->touchesBegan({ 10, 10 });
    view->touchesEnded({ 10, 10 });
    EXPECT_EQ(overlays(), 0);
    EXPECT_TRUE(view->animatingForClick()); // the controller's click pulses the icon
    ASSERT_NE(view->actionIconLayer(), nullptr);
    EXPECT_NE(view->actionIconLayer()->animationForKey("AdlarkPulseAnimation"), nullptr);
    EXPECT_EQ(view->actionIconLayer()->transform(), kit::Transform3D::scale(0.1f, 0.1f, 1));
}

class FeedbackTest : public TouchTest {
protected:
    kit::ActivityIndicatorView* spinner() { return dynamic_cast<kit::ActivityIndicatorView*>(view->viewWithTag(2)); }
    bool iconBackInFullSize()
    {
        auto* icon = view->actionIconLayer();
        return icon && icon->transform().isIdentity() && icon->animationKeys().empty() && icon->frame() == kit::Rect(286, 9, 30, 30);
    }
};

TEST_F(FeedbackTest, ThePulseGrowsTheIconThenShrinksItAwayInHalfASecond)
{
    auto* icon = view->actionIconLayer();
    view->animateActionIconForClick();
    auto* pulse = dynamic_cast<kit::KeyframeAnimation*>(icon->animationForKey("AdlarkPulseAnimation"));
    ASSERT_NE(pulse, nullptr);
    EXPECT_EQ(pulse->keyPath, "transform");
    EXPECT_EQ(pulse->keyTimes, (std::vector<double> { 0.0, 0.4, 1.0 }));
    ASSERT_EQ(pulse->values.size(), 3u);
    EXPECT_EQ(std::get<kit::Transform3D>(pulse->values[0]), kit::Transform3D::scale(1, 1, 1));
    EXPECT_EQ(std::get<kit::Transform3D>(pulse->values[1]), kit::Transform3D::scale(1.4f, 1.4f, 1));
    EXPECT_EQ(std::get<kit::Transform3D>(pulse->values[2]), kit::Transform3D::scale(0.1f, 0.1f, 1));
    EXPECT_DOUBLE_EQ(pulse->duration, 0.5);
    EXPECT_FALSE(pulse->removedOnCompletion);
    EXPECT_EQ(icon->transform(), kit::Transform3D::scale(0.1f, 0.1f, 1)) << "small after the pulse";
}

TEST_F(FeedbackTest, ASecondClickDuringThePulseKeepsItAndTheSpinnerTakesTheIconsPlace)
{
    view->animateActionIconForClick();
    auto* pulse = view->actionIconLayer()->animationForKey("AdlarkPulseAnimation");
    advanceTo(0.2);
    view->animateActionIconForClick();
    EXPECT_EQ(view->actionIconLayer()->animationForKey("AdlarkPulseAnimation"), pulse) << "the pulse runs on";
    EXPECT_EQ(view->layer().sublayers().size(), 1u);
    advanceTo(0.49);
    EXPECT_NE(view->actionIconLayer(), nullptr) << "the icon stays until the pulse ends";
    advanceTo(0.801);
    ASSERT_NE(spinner(), nullptr);
    EXPECT_EQ(spinner()->center(), (kit::Point { 301, 24 }));
    int spinners = 0;
    for (auto& sub : view->subviews())
        spinners += sub->tag() == 2;
    EXPECT_EQ(spinners, 1);
}

TEST_F(FeedbackTest, APulseEndingWithoutItsLayerChangesNothing)
{
    view->animateActionIconForClick();
    auto pulse = kit::KeyframeAnimation::create("transform");
    advanceTo(0.1);
    // The did-stop of an animation the icon layer does not carry, and of the
    // pulse once its layer has gone (the icon restored meanwhile).
    view->animationDidStop(*pulse, false);
    EXPECT_NE(view->actionIconLayer(), nullptr);
    EXPECT_FALSE(view->hasAddSpinnerTimer());
    auto* running = view->actionIconLayer()->animationForKey("AdlarkPulseAnimation");
    ASSERT_NE(running, nullptr);
    advanceTo(0.801);
    ASSERT_NE(spinner(), nullptr);
    view->animationDidStop(*running, true);
    EXPECT_EQ(spinner()->center(), (kit::Point { 301, 24 }));
    EXPECT_FALSE(view->hasAddSpinnerTimer()) << "no second spinner on its way";
    EXPECT_FALSE(view->animatingForClick());
}

TEST_F(FeedbackTest, ClickFinishedDuringThePulse)
{
    view->animateActionIconForClick();
    advanceTo(0.2);
    view->removeSpinnerAndRestoreActionIcon();
    EXPECT_TRUE(view->removeSpinnerRequested());
    EXPECT_FALSE(view->hasRemoveSpinnerTimer());
    advanceTo(0.5);
    EXPECT_EQ(view->actionIconLayer(), nullptr); // the pulse's end takes the icon away
    EXPECT_TRUE(view->layer().sublayers().empty());
    EXPECT_TRUE(view->hasAddSpinnerTimer());
    advanceTo(0.799);
    EXPECT_EQ(spinner(), nullptr);
    advanceTo(0.801);
    ASSERT_NE(spinner(), nullptr);
    EXPECT_TRUE(spinner()->isAnimating());
    EXPECT_EQ(spinner()->style(), kit::ActivityIndicatorViewStyle::White);
    EXPECT_EQ(spinner()->center(), (kit::Point { 301, 24 })); // where the icon was
    EXPECT_FALSE(view->animatingForClick());
    EXPECT_FALSE(view->hasAddSpinnerTimer());
    advanceTo(1.099);
    EXPECT_NE(spinner(), nullptr);
    advanceTo(1.101);
    EXPECT_EQ(spinner(), nullptr);
    EXPECT_TRUE(iconBackInFullSize());
    EXPECT_FALSE(view->removeSpinnerRequested());
    EXPECT_FALSE(view->hasRemoveSpinnerTimer());
}

TEST_F(FeedbackTest, ClickFinishedWhileSpinningAndASecondFinishRestartsTheWait)
{
    source->gray = true;
    view->animateActionIconForClick();
    advanceTo(0.801);
    ASSERT_NE(spinner(), nullptr);
    EXPECT_EQ(spinner()->style(), kit::ActivityIndicatorViewStyle::Gray);
    advanceTo(1.0);
    view->removeSpinnerAndRestoreActionIcon();
    advanceTo(1.1);
    view->removeSpinnerAndRestoreActionIcon();
    advanceTo(1.39);
    EXPECT_NE(spinner(), nullptr); // the first finish's timer was replaced
    EXPECT_EQ(view->actionIconLayer(), nullptr);
    advanceTo(1.401);
    EXPECT_EQ(spinner(), nullptr);
    EXPECT_TRUE(iconBackInFullSize());
}

TEST_F(FeedbackTest, ASecondTapWhileTheIconIsAwayDoesNotStrandTheSpinner)
{
    view->touchesBegan({ 10, 10 });
    view->touchesEnded({ 10, 10 });
    advanceTo(0.9);
    ASSERT_NE(spinner(), nullptr);
    view->touchesBegan({ 10, 10 });
    view->touchesEnded({ 10, 10 }); // no icon to pulse
    EXPECT_FALSE(view->animatingForClick());
    view->removeSpinnerAndRestoreActionIcon();
    advanceTo(1.2);
    EXPECT_EQ(spinner(), nullptr);
    EXPECT_TRUE(iconBackInFullSize());
}

TEST_F(FeedbackTest, ABannerLetGoWithFeedbackPendingGoesAtOnceAndNothingFires)
{
    view->animateActionIconForClick();
    advanceTo(0.6); // the spinner's timer is pending
    ASSERT_TRUE(view->hasAddSpinnerTimer());
    std::weak_ptr<AdlarkSingleAdView> weak = view;
    view->removeFromSuperview();
    view.reset();
    EXPECT_TRUE(weak.expired());
    advanceTo(2);
    EXPECT_TRUE(adView->subviews().empty());
}

} // namespace
