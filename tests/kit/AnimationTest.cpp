// Animations: timing curves, 3-D transforms and the flip, animations by key,
// and view animation blocks, on the manual clock.
#include "kit/gfx/Animation.h"
#include "kit/core/Platform.h"
#include "kit/core/RunLoop.h"
#include "kit/testing/TestEnvironment.h"
#include "kit/ui/View.h"
#include "kit/ui/ViewAnimation.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(TimingCurveTest, CurvesKeepTheirEndsAndBendAsNamed)
{
    using kit::TimingCurve;
    for (auto curve : { TimingCurve::Linear, TimingCurve::EaseIn, TimingCurve::EaseOut, TimingCurve::EaseInOut }) {
        EXPECT_EQ(kit::applyTimingCurve(curve, 0), 0) << kit::timingCurveName(curve);
        EXPECT_EQ(kit::applyTimingCurve(curve, 1), 1) << kit::timingCurveName(curve);
        EXPECT_EQ(kit::applyTimingCurve(curve, 1.5), 1) << "clamped";
        double last = 0;
        for (int i = 1; i <= 100; ++i) {
            double y = kit::applyTimingCurve(curve, i / 100.0);
            EXPECT_GE(y, last) << kit::timingCurveName(curve) << " rises at " << i;
            last = y;
        }
    }
    // The handheld's control points, against values worked out apart.
    EXPECT_NEAR(kit::applyTimingCurve(TimingCurve::EaseIn, 0.25), 0.093465, 1e-5);
    EXPECT_NEAR(kit::applyTimingCurve(TimingCurve::EaseOut, 0.25), 0.378138, 1e-5);
    EXPECT_NEAR(kit::applyTimingCurve(TimingCurve::EaseInOut, 0.25), 0.129162, 1e-5);
    EXPECT_NEAR(kit::applyTimingCurve(TimingCurve::EaseInOut, 0.5), 0.5, 1e-6);
    EXPECT_NEAR(kit::applyTimingCurve(TimingCurve::EaseInOut, 0.75), 0.870838, 1e-5);
}

TEST(Transform3DTest, TurnsPerspectiveAndTheFlip)
{
    auto near = [](kit::Point p, float x, float y) { return std::abs(p.x - x) < 1e-3f && std::abs(p.y - y) < 1e-3f; };
    auto quarter = kit::Transform3D::rotation(float(M_PI / 2), 0, 0, 1);
    EXPECT_TRUE(near(quarter.apply({ 1, 0 }), 0, 1)) << "x turns towards y";
    auto order = kit::Transform3D::translation(10, 0, 0).concat(kit::Transform3D::scale(2, 2, 1));
    EXPECT_TRUE(near(order.apply({ 1, 1 }), 22, 2)) << "concat applies this, then the next";

    // Turned a little about the vertical axis, seen in perspective: one edge
    // comes forward and grows, the other goes back and shrinks.
    kit::Size size { 320, 48 };
    auto early = kit::flipFrame(kit::AnimationTransition::FlipFromRight, 0.1, size);
    EXPECT_FALSE(early.showsNewPicture);
    auto rightTop = early.transform.apply({ 320, 0 }), rightBottom = early.transform.apply({ 320, 48 });
    auto leftTop = early.transform.apply({ 0, 0 }), leftBottom = early.transform.apply({ 0, 48 });
    EXPECT_GT(rightBottom.y - rightTop.y, 48.5f) << "from the right: the right edge comes forward";
    EXPECT_LT(leftBottom.y - leftTop.y, 47.5f);
    EXPECT_TRUE(near(early.transform.apply({ 160, 24 }), 160, 24)) << "the centre line stays";
    auto fromLeft = kit::flipFrame(kit::AnimationTransition::FlipFromLeft, 0.1, size);
    EXPECT_GT(fromLeft.transform.apply({ 0, 48 }).y - fromLeft.transform.apply({ 0, 0 }).y, 48.5f);

    // Edge-on at the half: the picture is a line at the centre; then the new
    // picture turns in and ends flat.
    auto half = kit::flipFrame(kit::AnimationTransition::FlipFromRight, 0.5, size);
    EXPECT_TRUE(half.showsNewPicture);
    EXPECT_NEAR(half.transform.apply({ 0, 10 }).x, 160, 1e-2);
    EXPECT_NEAR(half.transform.apply({ 320, 10 }).x, 160, 1e-2);
    auto end = kit::flipFrame(kit::AnimationTransition::FlipFromRight, 1, size);
    EXPECT_TRUE(near(end.transform.apply({ 320, 48 }), 320, 48));
}

TEST(AnimationSetTest, KeyFramesOfAnyValueOnACurveAndTheLastAttachedShows)
{
    kit::TestEnvironment env;
    auto& loop = kit::RunLoop::main();
    kit::AnimationSet set;
    auto colours = kit::KeyframeAnimation::create("backgroundColor");
    colours->values = { kit::Color::black(), kit::Color::white(), kit::Color::black() };
    colours->duration = 1;
    set.add(colours, "colours");
    loop.advance(0.25);
    auto shown = set.presentationValue("backgroundColor", loop.now());
    ASSERT_TRUE(shown);
    EXPECT_NEAR(std::get<kit::Color>(*shown).red, 0.5f, 1e-5) << "values spread evenly without key times";

    auto eased = kit::BasicAnimation::create("backgroundColor", kit::Color::black(), kit::Color::white());
    eased->duration = 1;
    eased->curve = kit::TimingCurve::EaseIn;
    set.add(eased, "eased");
    loop.advance(0.25);
    shown = set.presentationValue("backgroundColor", loop.now());
    ASSERT_TRUE(shown);
    EXPECT_NEAR(std::get<kit::Color>(*shown).red, 0.093465f, 1e-4) << "the one attached last";
    EXPECT_FALSE(set.presentationValue("alpha", loop.now()));
    EXPECT_TRUE(set.isRunning(loop.now()));
    loop.advance(1);
    EXPECT_TRUE(set.empty()) << "both removed on completion";
}

class AnimationTest : public ::testing::Test {
protected:
    kit::TestEnvironment env;
};

TEST_F(AnimationTest, TheModelTakesTheNewValueAtOnceAndTheDisplayMovesOverTheDuration)
{
    auto panel = kit::View::create(kit::Rect { 0, 0, 320, 100 });
    panel->setTransform(kit::Transform::translation(0, -500));
    std::vector<std::string> stopped;
    kit::ViewAnimation::beginAnimations("slide");
    kit::ViewAnimation::setAnimationDuration(2.0);
    kit::ViewAnimation::setAnimationCurve(kit::TimingCurve::Linear);
    kit::ViewAnimation::setAnimationDidStop([&](const std::string& id, bool finished, const std::any&) {
        EXPECT_TRUE(finished);
        stopped.push_back(id);
    });
    panel->setTransform(kit::Transform::translation(0, 0));
    kit::ViewAnimation::commitAnimations();

    EXPECT_EQ(panel->transform(), kit::Transform::translation(0, 0));
    auto& loop = kit::RunLoop::main();
    loop.advance(0.5);
    auto shown = panel->presentationValue(kit::ViewProperty::Transform, loop.now());
    ASSERT_TRUE(shown);
    EXPECT_FLOAT_EQ(std::get<kit::Transform>(*shown).ty, -375);
    loop.advance(1.4);
    EXPECT_TRUE(stopped.empty());
    loop.advance(0.1);
    EXPECT_EQ(stopped, std::vector<std::string> { "slide" });
    EXPECT_FALSE(panel->presentationValue(kit::ViewProperty::Transform, loop.now()));
}

TEST_F(AnimationTest, DefaultDurationAndAnimationsThatTakeOverStartWhereTheDisplayIs)
{
    auto v = kit::View::create();
    int ends = 0;
    std::vector<std::string> stops;
    auto note = [&](const std::string& id, bool finished, const std::any&) {
        ++ends;
        stops.push_back(id + (finished ? " finished" : " cut"));
    };
    kit::ViewAnimation::beginAnimations("fade");
    kit::ViewAnimation::setAnimationDidStop(note);
    v->setAlpha(0);
    kit::ViewAnimation::commitAnimations();
    auto& loop = kit::RunLoop::main();
    loop.advance(0.1);
    kit::ViewAnimation::beginAnimations("back");
    kit::ViewAnimation::setAnimationDidStop(note);
    v->setAlpha(1);
    kit::ViewAnimation::commitAnimations();
    auto shown = v->presentationValue(kit::ViewProperty::Alpha, loop.now());
    ASSERT_TRUE(shown);
    EXPECT_NEAR(std::get<float>(*shown), 0.5f, 1e-5); // half way on the symmetric default curve
    EXPECT_EQ(ends, 0) << "never from inside the block that took over";
    loop.advance(0.1);
    EXPECT_EQ(stops, std::vector<std::string> { "fade cut" }) << "the first block was cut short";
    loop.advance(0.1);
    EXPECT_EQ(stops, (std::vector<std::string> { "fade cut", "back finished" }));
    EXPECT_EQ(ends, 2);
}

TEST_F(AnimationTest, BlocksEaseInAndOutUnlessToldAndCarryTheirContext)
{
    auto v = kit::View::create();
    std::any heard;
    kit::ViewAnimation::beginAnimations("fade", std::string("the old banner"));
    kit::ViewAnimation::setAnimationDidStop([&](const std::string&, bool, const std::any& context) { heard = context; });
    v->setAlpha(0);
    kit::ViewAnimation::commitAnimations();
    auto running = kit::ViewAnimation::activeAnimations();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].curve, kit::TimingCurve::EaseInOut);
    EXPECT_DOUBLE_EQ(running[0].duration, 0.2);
    ASSERT_NE(v->animationForKey("alpha"), nullptr) << "attached to the view under its key path";
    env.advance(0.05);
    auto shown = v->presentationValue(kit::ViewProperty::Alpha, kit::RunLoop::main().now());
    ASSERT_TRUE(shown);
    EXPECT_NEAR(std::get<float>(*shown), 1 - 0.129162f, 1e-4);
    env.advance(0.15);
    ASSERT_TRUE(heard.has_value());
    EXPECT_EQ(std::any_cast<std::string>(heard), "the old banner");

    kit::ViewAnimation::beginAnimations("out");
    kit::ViewAnimation::setAnimationCurve(kit::TimingCurve::EaseOut);
    v->setAlpha(1);
    kit::ViewAnimation::commitAnimations();
    EXPECT_EQ(kit::ViewAnimation::activeAnimations().at(0).curve, kit::TimingCurve::EaseOut);
}

TEST_F(AnimationTest, AViewThatDiesInsideABlockOrWhileAnimatedIsLetGo)
{
    std::vector<std::string> stops;
    auto note = [&](const std::string& id, bool finished, const std::any&) { stops.push_back(id + (finished ? " finished" : " cut")); };

    // Inside the block: the block forgets it, and ends like an empty one.
    auto doomed = kit::View::create();
    auto kept = kit::View::create();
    kit::ViewAnimation::beginAnimations("inside");
    kit::ViewAnimation::setAnimationDidStop(note);
    doomed->setAlpha(0.5f);
    kept->setAlpha(0.5f);
    kit::ViewAnimation::setAnimationTransition(kit::AnimationTransition::FlipFromLeft, *doomed, true);
    doomed.reset();
    kit::ViewAnimation::commitAnimations();
    EXPECT_EQ(kit::ViewAnimation::activeAnimations().size(), 1u);
    EXPECT_TRUE(kit::ViewAnimation::activeTransitions().empty());
    env.advance(0.2);
    EXPECT_EQ(stops, std::vector<std::string> { "inside finished" });

    // While animated: its animations stop with it, and the block hears so
    // from the run loop, not from inside the view's destructor.
    stops.clear();
    auto animated = kit::View::create();
    kit::ViewAnimation::beginAnimations("while");
    kit::ViewAnimation::setAnimationDidStop(note);
    animated->setFrame({ 0, 0, 10, 10 });
    animated->setAlpha(0);
    kit::ViewAnimation::commitAnimations();
    animated.reset();
    EXPECT_TRUE(stops.empty());
    env.advance(0.01);
    EXPECT_EQ(stops, std::vector<std::string> { "while cut" }) << "one did-stop for the block";
    EXPECT_TRUE(kit::ViewAnimation::activeAnimations().empty());

    // A view made without create() is animated too, and may die the same way.
    stops.clear();
    {
        kit::View onStack;
        kit::ViewAnimation::beginAnimations("stack");
        kit::ViewAnimation::setAnimationDidStop(note);
        onStack.setAlpha(0);
        kit::ViewAnimation::commitAnimations();
        EXPECT_TRUE(onStack.presentationValue(kit::ViewProperty::Alpha, kit::RunLoop::main().now()));
    }
    env.advance(0.01);
    EXPECT_EQ(stops, std::vector<std::string> { "stack cut" });
}

TEST_F(AnimationTest, ATransitionIsAnnouncedBeforeTheChangeAndAttachedAtCommit)
{
    struct Watcher : kit::ViewObserver {
        std::vector<std::string> heard;
        void viewChanged(kit::View& view, kit::ViewProperty property) override
        {
            if (property == kit::ViewProperty::Animations)
                heard.push_back("animations of " + std::to_string(view.tag()) + ": " + std::to_string(view.animationKeys().size()));
        }
        void viewDestroyed(kit::View&) override { }
        void subviewInserted(kit::View& parent, kit::View&, size_t) override { heard.push_back("insert into " + std::to_string(parent.tag())); }
        void transitionWillBegin(kit::View& view) override { heard.push_back("will turn " + std::to_string(view.tag())); }
    };
    auto watcher = std::make_shared<Watcher>();
    auto token = kit::Platform::current().addViewObserver(watcher.get());
    auto container = kit::View::create();
    container->setTag(7);
    kit::ViewAnimation::beginAnimations("swap");
    kit::ViewAnimation::setAnimationDuration(0.7);
    kit::ViewAnimation::setAnimationTransition(kit::AnimationTransition::FlipFromRight, *container, true);
    container->addSubview(kit::View::create());
    kit::ViewAnimation::commitAnimations();
    EXPECT_EQ(watcher->heard, (std::vector<std::string> { "will turn 7", "insert into 7", "animations of 7: 1" }));
    auto* flip = dynamic_cast<kit::TransitionAnimation*>(container->animationForKey(kit::ViewAnimation::transitionKey));
    ASSERT_NE(flip, nullptr);
    EXPECT_EQ(flip->transition, kit::AnimationTransition::FlipFromRight);
    EXPECT_DOUBLE_EQ(flip->duration, 0.7);
    env.advance(0.7);
    EXPECT_EQ(watcher->heard.back(), "animations of 7: 0");
}

} // namespace
