#include "kit/Application.h"
#include "kit/DeviceLayout.h"
#include "kit/RunLoop.h"
#include "kit/TabBarController.h"
#include "kit/TestEnvironment.h"
#include "kit/View.h"
#include "kit/ViewAnimation.h"
#include "kit/Window.h"

#include <gtest/gtest.h>

namespace {

TEST(ViewTest, TheParentHoldsItsSubviewsAndClearsTheirLinkWhenItGoes)
{
    auto child = kit::View::create(kit::Rect { 1, 2, 3, 4 });
    std::weak_ptr<kit::View> weakChild = child;
    {
        auto parent = kit::View::create();
        parent->addSubview(child);
        EXPECT_EQ(child->superview(), parent.get());
        child.reset();
        EXPECT_FALSE(weakChild.expired()) << "the parent holds its subview";
        auto keep = weakChild.lock();
        parent.reset();
        EXPECT_EQ(keep->superview(), nullptr);
    }
    EXPECT_TRUE(weakChild.expired());
}

TEST(ViewTest, OrderTagsAndMoves)
{
    auto root = kit::View::create();
    auto a = kit::View::create(), b = kit::View::create(), c = kit::View::create();
    b->setTag(7);
    root->addSubview(a);
    root->addSubview(b);
    root->addSubview(c);
    root->bringSubviewToFront(*a);
    EXPECT_EQ(root->subviews().back(), a);
    root->sendSubviewToBack(*c);
    EXPECT_EQ(root->subviews().front(), c);
    EXPECT_EQ(root->viewWithTag(7), b.get());
    EXPECT_EQ(root->viewWithTag(8), nullptr);

    auto other = kit::View::create();
    other->addSubview(b); // moving takes it out of the first parent
    EXPECT_EQ(root->subviews().size(), 2u);
    EXPECT_EQ(b->superview(), other.get());
    b->addSubview(other); // a cycle is refused
    EXPECT_EQ(other->superview(), nullptr);
    b->removeFromSuperview();
    EXPECT_TRUE(other->subviews().empty());
}

TEST(ViewTest, HitTestingFollowsStackingTransformsAndVisibility)
{
    auto root = kit::View::create(kit::Rect { 0, 0, 100, 100 });
    auto under = kit::View::create(kit::Rect { 0, 0, 50, 50 });
    auto over = kit::View::create(kit::Rect { 0, 0, 50, 50 });
    root->addSubview(under);
    root->addSubview(over);
    EXPECT_EQ(root->hitTest({ 10, 10 }), over.get());
    over->setHidden(true);
    EXPECT_EQ(root->hitTest({ 10, 10 }), under.get());
    under->setTransform(kit::Transform::translation(50, 50));
    EXPECT_EQ(root->hitTest({ 60, 60 }), under.get());
    EXPECT_EQ(root->hitTest({ 10, 10 }), root.get());
}

// Records what the platform's view observers hear.
struct Recorder : kit::ViewObserver {
    std::vector<std::string> heard;
    void viewChanged(kit::View& view, kit::ViewProperty property) override
    {
        heard.push_back("tag" + std::to_string(view.tag()) + " property " + std::to_string(int(property)));
    }
    void viewDestroyed(kit::View& view) override { heard.push_back("tag" + std::to_string(view.tag()) + " gone"); }
    void subviewInserted(kit::View& parent, kit::View& child, size_t index) override
    {
        heard.push_back("tag" + std::to_string(parent.tag()) + " +" + std::to_string(child.tag()) + "@" + std::to_string(index));
    }
    void subviewRemoved(kit::View& parent, kit::View& child, size_t index) override
    {
        heard.push_back("tag" + std::to_string(parent.tag()) + " -" + std::to_string(child.tag()) + "@" + std::to_string(index));
    }
};

TEST(ViewObserverTest, SeveralObserversHearInsertionsRemovalsAndMovesWithTheirIndex)
{
    kit::TestEnvironment env;
    Recorder first, second;
    env.platform().addViewObserver(&first);
    env.platform().addViewObserver(&second);
    auto root = kit::View::create();
    root->setTag(1);
    auto a = kit::View::create(), b = kit::View::create(), c = kit::View::create();
    a->setTag(10);
    b->setTag(11);
    c->setTag(12);
    first.heard.clear();
    second.heard.clear();
    root->addSubview(a);
    root->addSubview(b);
    root->insertSubview(c, 0);       // c a b
    root->bringSubviewToFront(*c);   // a b c
    root->bringSubviewToFront(*c);   // already in front: nothing
    b->removeFromSuperview();        // a c
    a->setAlpha(0.5f);
    EXPECT_EQ(first.heard, (std::vector<std::string> { "tag1 +10@0", "tag1 +11@1", "tag1 +12@0", "tag1 -12@0", "tag1 +12@2",
                               "tag1 -11@1", "tag10 property 1" }));
    EXPECT_EQ(second.heard, first.heard);

    env.platform().removeViewObserver(&second);
    second.heard.clear();
    c.reset();
    root->sendSubviewToBack(*root->subviews().back()); // c, held by root alone now
    EXPECT_TRUE(second.heard.empty());
    EXPECT_EQ(first.heard.back(), "tag1 +12@0");
    env.platform().removeViewObserver(&first);
}

TEST(ViewObserverTest, AViewNotMadeByCreateDoesNotThrowLater)
{
    kit::View parent;
    kit::View onStack;
    auto child = kit::View::create();
    parent.addSubview(child);
    EXPECT_NO_THROW(child->removeFromSuperview());
    auto window = std::make_shared<kit::Window>();
    EXPECT_NO_THROW(window->addSubview(child));
    EXPECT_NO_THROW(onStack.removeFromSuperview());
    EXPECT_EQ(child->window(), window.get());
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
    kit::ViewAnimation::setAnimationDidStop([&](const std::string& id, bool finished, const std::any&) {
        EXPECT_TRUE(finished);
        stopped.push_back(id);
    });
    panel->setTransform(kit::Transform::translation(0, 0));
    kit::ViewAnimation::commitAnimations();

    EXPECT_EQ(panel->transform(), kit::Transform::translation(0, 0));
    auto& loop = kit::RunLoop::main();
    loop.advance(0.5);
    auto shown = kit::ViewAnimation::presentationValue(*panel, kit::ViewProperty::Transform, loop.now());
    ASSERT_TRUE(shown);
    EXPECT_FLOAT_EQ(std::get<kit::Transform>(*shown).ty, -375);
    loop.advance(1.4);
    EXPECT_TRUE(stopped.empty());
    loop.advance(0.1);
    EXPECT_EQ(stopped, std::vector<std::string> { "slide" });
    EXPECT_FALSE(kit::ViewAnimation::presentationValue(*panel, kit::ViewProperty::Transform, loop.now()));
}

TEST_F(AnimationTest, DefaultDurationAndAnimationsThatTakeOverStartWhereTheDisplayIs)
{
    auto v = kit::View::create();
    int ends = 0;
    kit::ViewAnimation::beginAnimations("fade");
    kit::ViewAnimation::setAnimationDidStop([&](const std::string&, bool, const std::any&) { ++ends; });
    v->setAlpha(0);
    kit::ViewAnimation::commitAnimations();
    auto& loop = kit::RunLoop::main();
    loop.advance(0.1);
    kit::ViewAnimation::beginAnimations("back");
    kit::ViewAnimation::setAnimationDidStop([&](const std::string&, bool, const std::any&) { ++ends; });
    v->setAlpha(1);
    kit::ViewAnimation::commitAnimations();
    auto shown = kit::ViewAnimation::presentationValue(*v, kit::ViewProperty::Alpha, loop.now());
    ASSERT_TRUE(shown);
    EXPECT_NEAR(std::get<float>(*shown), 0.5f, 1e-5);
    loop.advance(0.1);
    EXPECT_EQ(ends, 1) << "the first block ends after the default 0.2 s";
    loop.advance(0.1);
    EXPECT_EQ(ends, 2);
}

class TabsTest : public ::testing::Test {
protected:
    struct Screen : kit::ViewController {
        std::vector<std::string>* events;
        std::string name;
        void viewDidAppear(bool) override { events->push_back(name + " appeared"); }
        void viewDidDisappear(bool) override { events->push_back(name + " went"); }
    };
    std::shared_ptr<Screen> screen(std::string name)
    {
        auto s = std::make_shared<Screen>();
        s->events = &events;
        s->name = std::move(name);
        s->setTitle(s->name);
        return s;
    }
    std::vector<std::string> events;
};

TEST_F(TabsTest, TheShownTabGetsViewDidAppearOnEntryAndOnEverySelection)
{
    kit::Application app;
    auto window = std::make_shared<kit::Window>();
    app.setKeyWindow(window.get());
    auto tabs = std::make_shared<kit::TabBarController>();
    tabs->setViewControllers({ screen("a"), screen("b"), screen("c"), screen("d") });
    tabs->setSelectedIndex(3); // before the window: nothing shows yet
    EXPECT_TRUE(events.empty());
    window->addSubview(tabs->viewPointer());
    EXPECT_EQ(events, std::vector<std::string> { "d appeared" });
    tabs->setSelectedIndex(0);
    tabs->setSelectedIndex(0);
    tabs->setSelectedIndex(9);
    EXPECT_EQ(events, (std::vector<std::string> { "d appeared", "d went", "a appeared" }));
    EXPECT_EQ(tabs->tabBar()->displayText(), "*a | b | c | d");
    EXPECT_EQ(tabs->view().frame(), kit::Window::applicationFrame());

    auto modal = screen("modal");
    tabs->selectedViewController()->presentModalViewController(modal, true);
    EXPECT_EQ(window->frontView(), &modal->view());
    modal->dismissModalViewControllerAnimated(true);
    EXPECT_EQ(window->frontView(), &tabs->view());
    EXPECT_EQ(modal->parentViewController(), nullptr);
}

TEST(DeviceLayoutTest, FixedPathsLieUnderTheRootAndTheTransferWorksInTheDownloadsFolder)
{
    kit::DeviceLayout layout;
    layout.setRoot("/tmp/dev/");
    EXPECT_EQ(layout.downloadsFolder(), "/tmp/dev/var/mobile/Library/Downloads");
    EXPECT_EQ(layout.ctorrentPath(), "/tmp/dev/usr/bin/ctorrent");
    EXPECT_EQ(layout.transferWorkingFolder(), layout.downloadsFolder());
    EXPECT_EQ(layout.documentsFolder(), "/tmp/dev/var/mobile/Documents");
    layout.setRoot("");
    EXPECT_EQ(layout.ctorrentPath(), "/usr/bin/ctorrent");
    EXPECT_EQ(layout.transferWorkingFolder(), layout.downloadsFolder());
}

} // namespace
