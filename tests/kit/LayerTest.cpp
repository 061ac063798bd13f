// Layers and their key-frame animations on the manual clock.
#include "kit/ui/DrawingView.h"
#include "kit/gfx/Image.h"
#include "kit/gfx/Layer.h"
#include "kit/core/RunLoop.h"

#include <gtest/gtest.h>

namespace {

class LayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        loop.reset();
        loop.useManualClock();
    }
    void TearDown() override { loop.reset(); }

    static std::shared_ptr<kit::KeyframeAnimation> pulse(std::vector<std::string>* stops = nullptr, const char* name = "pulse")
    {
        auto a = kit::KeyframeAnimation::create("transform");
        a->keyTimes = { 0.0, 0.4, 1.0 };
        a->values = { kit::Transform3D::scale(1, 1, 1), kit::Transform3D::scale(1.4f, 1.4f, 1), kit::Transform3D::scale(0.1f, 0.1f, 1) };
        a->duration = 0.5;
        a->removedOnCompletion = false;
        if (stops)
            a->didStop = [stops, name](kit::Animation&, bool finished) { stops->push_back(std::string(name) + (finished ? " finished" : " cut")); };
        return a;
    }

    kit::RunLoop& loop { kit::RunLoop::main() };
};

TEST_F(LayerTest, KeyFramesInterpolateAndTheDidStopComesAtTheEnd)
{
    auto layer = kit::Layer::create();
    std::vector<std::string> stops;
    layer->addAnimation(pulse(&stops), "AdlarkPulseAnimation");
    layer->setTransform(kit::Transform3D::scale(0.1f, 0.1f, 1));
    EXPECT_FLOAT_EQ(layer->presentationTransform(loop.now()).scaleX(), 1);
    loop.advance(0.1);
    EXPECT_NEAR(layer->presentationTransform(loop.now()).scaleX(), 1.2f, 1e-5);
    loop.advance(0.1);
    EXPECT_NEAR(layer->presentationTransform(loop.now()).scaleX(), 1.4f, 1e-5);
    loop.advance(0.15);
    EXPECT_NEAR(layer->presentationTransform(loop.now()).scaleY(), 0.75f, 1e-5);
    EXPECT_TRUE(layer->isAnimating(loop.now()));
    EXPECT_TRUE(stops.empty());
    loop.advance(0.15);
    EXPECT_EQ(stops, (std::vector<std::string> { "pulse finished" }));
    // Kept on the layer after it completes, showing its last value.
    EXPECT_NE(layer->animationForKey("AdlarkPulseAnimation"), nullptr);
    EXPECT_FALSE(layer->isAnimating(loop.now()));
    EXPECT_NEAR(layer->presentationTransform(loop.now()).scaleX(), 0.1f, 1e-6);
}

TEST_F(LayerTest, AnimationsStoppedEarlySayOnceAndLaterThatTheyDidNotFinish)
{
    std::vector<std::string> stops;
    auto layer = kit::Layer::create();
    layer->addAnimation(pulse(&stops, "first"), "key");
    loop.advance(0.3);
    layer->addAnimation(pulse(&stops, "second"), "key");
    EXPECT_TRUE(stops.empty()) << "never from inside the change that stopped it";
    loop.advance(0.3);
    EXPECT_EQ(stops, (std::vector<std::string> { "first cut" })); // the second runs its own 0.5 s from 0.3
    loop.advance(0.2);
    EXPECT_EQ(stops, (std::vector<std::string> { "first cut", "second finished" }));
    layer->removeAnimationForKey("key"); // it had run and stayed on: nothing more to say
    loop.advance(0.1);
    EXPECT_EQ(stops.size(), 2u);

    stops.clear();
    auto removed = kit::Layer::create();
    removed->addAnimation(pulse(&stops, "removed"), "key");
    removed->removeAnimationForKey("key");
    auto orphan = kit::Layer::create();
    orphan->addAnimation(pulse(&stops, "orphan"), "key");
    orphan.reset();
    loop.advance(1);
    EXPECT_EQ(stops, (std::vector<std::string> { "removed cut", "orphan cut" }));
}

TEST_F(LayerTest, TheTransformActsAboutTheAnchorPoint)
{
    auto layer = kit::Layer::create();
    layer->setFrame({ 10, 10, 20, 20 });
    layer->setTransform(kit::Transform3D::scale(2, 2, 1));
    auto placed = layer->placement(loop.now());
    EXPECT_EQ(placed.apply({ 10, 10 }), (kit::Point { 20, 20 })) << "the centre stays";
    EXPECT_EQ(placed.apply({ 0, 0 }), (kit::Point { 0, 0 }));
    layer->setAnchorPoint({ 0, 0 });
    placed = layer->placement(loop.now());
    EXPECT_EQ(placed.apply({ 0, 0 }), (kit::Point { 10, 10 })) << "the top left stays";
    EXPECT_EQ(placed.apply({ 20, 20 }), (kit::Point { 50, 50 }));
    auto root = kit::Layer::create();
    root->addSublayer(layer);
    EXPECT_EQ(root->describeSublayers(0), "CALayer (10,10,20,20) transform=scale(2,2,1) anchor=(0,0)\n");
}

TEST_F(LayerTest, SublayersBelongToOneParentAndChangesReachTheViewThatDraws)
{
    auto view = kit::View::create<kit::DrawingView>(kit::Rect { 0, 0, 320, 48 });
    auto& root = view->layer();
    EXPECT_EQ(root.frame(), (kit::Rect { 0, 0, 320, 48 }));
    int changes = 0;
    auto previous = root.onChange;
    root.onChange = [&] {
        ++changes;
        previous();
    };
    auto icon = kit::Layer::create();
    icon->setFrame({ 286, 9, 30, 30 });
    icon->setContents(kit::Image::fromRGBA(30, 30, std::vector<uint8_t>(30 * 30 * 4, 255)));
    root.addSublayer(icon);
    EXPECT_EQ(changes, 1);
    icon->setTransform(kit::Transform3D::scale(0.1f, 0.1f, 1));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(root.describeSublayers(1), "  CALayer (286,9,30,30) contents=30x30 transform=scale(0.1,0.1,1)\n");

    auto other = kit::Layer::create();
    other->addSublayer(icon); // moves, never shared
    EXPECT_TRUE(root.sublayers().empty());
    EXPECT_EQ(icon->superlayer(), other.get());
    root.setSublayers({ icon, kit::Layer::create() });
    EXPECT_EQ(root.sublayers().size(), 2u);
    EXPECT_TRUE(other->sublayers().empty());
    root.setSublayers({});
    EXPECT_EQ(icon->superlayer(), nullptr);
    EXPECT_TRUE(root.sublayers().empty());
}

} // namespace
