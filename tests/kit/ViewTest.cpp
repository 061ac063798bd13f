#include "kit/ui/Application.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/RunLoop.h"
#include "kit/ui/TabBarController.h"
#include "kit/testing/TestEnvironment.h"
#include "kit/ui/View.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/Window.h"

#include <gtest/gtest.h>

#include <cmath>

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

TEST(ViewTest, ScalesAndTurnsActAboutTheCentreForHitsAndConversions)
{
    auto root = kit::View::create(kit::Rect { 0, 0, 200, 200 });
    auto box = kit::View::create(kit::Rect { 50, 50, 40, 40 }); // centre (70, 70)
    auto inner = kit::View::create(kit::Rect { 0, 0, 10, 10 });
    root->addSubview(box);
    box->addSubview(inner);
    box->setTransform(kit::Transform::scale(2, 2)); // shows as (30, 30, 80, 80)
    EXPECT_EQ(root->hitTest({ 35, 35 }), inner.get()) << "the scaled top-left corner";
    EXPECT_EQ(root->hitTest({ 105, 105 }), box.get()) << "outside the frame, inside what shows";
    EXPECT_EQ(root->hitTest({ 115, 115 }), root.get());
    EXPECT_EQ(box->convertToAncestor(root.get()), (kit::Rect { 30, 30, 80, 80 }));
    EXPECT_EQ(inner->convertToAncestor(root.get()), (kit::Rect { 30, 30, 20, 20 }));
    auto back = box->convertFromSuperview(box->convertToSuperview({ 3, 7 }));
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->x, 3, 1e-4);
    EXPECT_NEAR(back->y, 7, 1e-4);
    auto touched = inner->convertFromAncestor({ 40, 40 }, root.get());
    ASSERT_TRUE(touched);
    EXPECT_NEAR(touched->x, 5, 1e-4) << "a touch lands in the inner view's own points";
    EXPECT_NEAR(touched->y, 5, 1e-4);

    // A quarter turn: the frame's box stays square about the same centre.
    box->setTransform(kit::Transform::rotation(float(M_PI / 2)));
    auto turned = inner->convertToAncestor(root.get());
    EXPECT_NEAR(turned.x(), 80, 1e-4);
    EXPECT_NEAR(turned.y(), 50, 1e-4);
    EXPECT_EQ(root->hitTest({ 85, 55 }), inner.get());

    // Scaled to nothing: nothing can reach it, and nothing breaks.
    box->setTransform(kit::Transform::scale(0, 0));
    EXPECT_FALSE(box->convertFromSuperview({ 70, 70 }));
    EXPECT_EQ(inner->touchPoint({ 70, 70 }, root.get()), (kit::Point { 5, 5 })) << "a touch already down lands on the centre";
    EXPECT_EQ(root->hitTest({ 70, 70 }), root.get());
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
    auto firstToken = env.platform().addViewObserver(&first);
    auto secondToken = env.platform().addViewObserver(&second);
    EXPECT_FALSE(env.platform().addViewObserver(&first).isActive()); // already there: no second entry
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

    secondToken.reset();
    second.heard.clear();
    c.reset();
    root->sendSubviewToBack(*root->subviews().back()); // c, held by root alone now
    EXPECT_TRUE(second.heard.empty());
    EXPECT_EQ(first.heard.back(), "tag1 +12@0");
    firstToken.reset();
    EXPECT_TRUE(env.platform().viewObservers().empty());
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
    window->makeKeyWindow();
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
