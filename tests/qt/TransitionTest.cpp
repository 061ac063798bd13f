// A flip on any container in the window: plain views, no drawing of their
// own. The whole container turns in perspective about its vertical centre
// line, first showing what it held before the block, then what it holds now.
#include "QtTestSupport.h"

#include "shells/qt/Scene.h"

#include "kit/testing/TestEnvironment.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/Window.h"

#include <QApplication>
#include <gtest/gtest.h>

using namespace qtshell;

namespace {

std::shared_ptr<kit::View> card(kit::Color color)
{
    auto v = kit::View::create(kit::Rect { 0, 0, 320, 48 });
    v->setBackgroundColor(color);
    return v;
}

TEST(TransitionTest, AnyContainerFlipsInPerspectiveFromWhatItShowedToWhatItShows)
{
    kit::TestEnvironment env;
    auto window = std::make_shared<kit::Window>();
    window->setBackgroundColor(kit::Color::rgba(0, 0, 1));
    auto container = kit::View::create(kit::Rect { 0, 100, 320, 48 });
    window->addSubview(container);
    auto old = card(kit::Color::rgba(1, 0, 0));
    container->addSubview(old);
    QWidget host;
    host.resize(320, 480);
    {
        Scene scene(*window, &host);
        host.show();
        QApplication::processEvents();
        auto pixel = [&](int x, int y) { return host.grab().toImage().pixelColor(x, y); };
        const QColor red(255, 0, 0), green(0, 255, 0), blue(0, 0, 255);
        ASSERT_EQ(pixel(160, 124), red);

        // Made before the block: inside it, its colour would fade in too.
        auto fresh = card(kit::Color::rgba(0, 1, 0));
        kit::ViewAnimation::beginAnimations("swap");
        kit::ViewAnimation::setAnimationDuration(1.0);
        kit::ViewAnimation::setAnimationTransition(kit::AnimationTransition::FlipFromRight, *container, true);
        container->addSubview(fresh);
        old->removeFromSuperview();
        kit::ViewAnimation::commitAnimations();
        old.reset();
        QApplication::processEvents();

        // A quarter of the turn: still the old picture; its right edge has
        // come forward and stands taller than the container, its left edge
        // has gone back.
        env.advance(0.35);
        auto frame = host.grab().toImage();
        EXPECT_EQ(frame.pixelColor(160, 124), red);
        EXPECT_EQ(frame.pixelColor(285, 97), red) << "the near edge grows past the top";
        EXPECT_EQ(frame.pixelColor(20, 101), blue) << "the far edge shrinks below it";
        EXPECT_EQ(frame.pixelColor(2, 124), blue) << "and moves in";

        // Edge-on at the half: what lies behind shows through.
        env.advance(0.15);
        frame = host.grab().toImage();
        EXPECT_EQ(frame.pixelColor(60, 124), blue);
        EXPECT_EQ(frame.pixelColor(260, 124), blue);

        // The new picture turns in and ends flat.
        env.advance(0.3);
        EXPECT_EQ(pixel(160, 124), green);
        env.advance(0.2);
        EXPECT_TRUE(kit::ViewAnimation::activeTransitions().empty());
        EXPECT_EQ(pixel(2, 101), green);
        EXPECT_EQ(pixel(285, 97), blue);
    }
}

} // namespace
