// Toolbars and navigation bars: where their items stand, what a tap on an
// item does (nothing while disabled), and how the bars follow their items.
#include "kit/ui/NavigationBar.h"
#include "kit/ui/Toolbar.h"

#include <gtest/gtest.h>

namespace {

TEST(Toolbar, FlexibleSpacesShareTheWidthTheItemsLeave)
{
    auto bar = kit::View::create<kit::Toolbar>(kit::Rect { 0, 416, 320, 44 });
    int taps = 0;
    auto back = kit::BarButtonItem::createImage(nullptr, "back", kit::BarButtonItemStyle::Plain, [&] { ++taps; });
    auto space = kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::FlexibleSpace);
    auto refresh = kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::Refresh, [&] { taps += 10; });
    auto action = kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::Action);
    bar->setItems({ back, space, refresh, space, action });
    ASSERT_EQ(bar->subviews().size(), 3u) << "spaces have no view";
    auto* first = bar->viewForItem(*back);
    auto* middle = bar->viewForItem(*refresh);
    auto* last = bar->viewForItem(*action);
    ASSERT_TRUE(first && middle && last);
    EXPECT_EQ(bar->viewForItem(*space), nullptr);
    EXPECT_EQ(first->frame().x(), kit::Toolbar::margin);
    EXPECT_FLOAT_EQ(last->frame().x() + last->frame().width(), 320 - kit::Toolbar::margin);
    EXPECT_FLOAT_EQ(middle->frame().x() - (first->frame().x() + first->frame().width()),
        last->frame().x() - (middle->frame().x() + middle->frame().width()));
    EXPECT_FLOAT_EQ(middle->frame().y(), 7);
    EXPECT_EQ(bar->displayText(), "back | Refresh | Action");

    first->touchesEnded({ 1, 1 });
    middle->sendAction();
    EXPECT_EQ(taps, 11);
    back->setEnabled(false);
    EXPECT_FALSE(first->isEnabled()) << "the view follows its item";
    first->sendAction();
    back->sendAction();
    EXPECT_EQ(taps, 11) << "a disabled item does nothing";
    EXPECT_EQ(bar->displayText(), "back (disabled) | Refresh | Action");

    bar->setItems({ action });
    EXPECT_EQ(bar->subviews().size(), 1u) << "new items, new views";
    back->setEnabled(true); // an item that left the bar tells nobody
}

TEST(Toolbar, KeepsOtherSubviewsAndItemsOutliveAGoneBar)
{
    auto item = kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::Stop);
    {
        auto bar = kit::View::create<kit::Toolbar>(kit::Rect { 0, 0, 320, 44 });
        auto extra = kit::View::create(kit::Rect { 1, 1, 2, 2 });
        bar->addSubview(extra);
        bar->setItems({ item });
        bar->setItems({ item, item });
        ASSERT_EQ(bar->subviews().size(), 3u);
        EXPECT_EQ(bar->subviews()[0], extra);
    }
    item->setEnabled(false);
    EXPECT_FALSE(item->isEnabled());
}

TEST(NavigationBar, ShowsTheTopItemsTitleAndLeftButton)
{
    auto bar = kit::View::create<kit::NavigationBar>(kit::Rect { 0, 0, 320, 44 });
    auto item = std::make_shared<kit::NavigationItem>("");
    bar->setItems({ item });
    ASSERT_NE(bar->titleLabel(), nullptr);
    EXPECT_EQ(bar->leftButtonView(), nullptr);
    int done = 0;
    item->setLeftBarButtonItem(kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::Done, [&] { ++done; }));
    item->setLeftBarButtonItem(kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::Done, [&] { done += 10; }));
    item->setTitle("A page");
    EXPECT_EQ(bar->titleLabel()->text(), "A page");
    ASSERT_NE(bar->leftButtonView(), nullptr);
    int buttons = 0;
    for (auto& v : bar->subviews())
        buttons += v->className() == "UIBarButtonItem";
    EXPECT_EQ(buttons, 1) << "a new left button replaces the old one";
    EXPECT_EQ(bar->leftButtonView()->frame().x(), kit::NavigationBar::margin);
    bar->leftButtonView()->sendAction();
    EXPECT_EQ(done, 10);
    EXPECT_EQ(bar->displayText(), "[Done] A page");
    bar.reset();
    item->setTitle("after the bar"); // no bar is told
    EXPECT_EQ(item->title(), "after the bar");
}

TEST(ViewGeometry, RectanglesConvertIntoTheWindowThroughNestedViews)
{
    auto root = kit::View::create(kit::Rect { 0, 0, 320, 480 });
    auto a = kit::View::create(kit::Rect { 0, 20, 320, 460 });
    auto b = kit::View::create(kit::Rect { 5, 300, 310, 100 });
    auto c = kit::View::create(kit::Rect { 10, 40, 300, 48 });
    root->addSubview(a);
    a->addSubview(b);
    b->addSubview(c);
    EXPECT_EQ(c->convertToAncestor(root.get()), (kit::Rect { 15, 360, 300, 48 }));
    EXPECT_EQ(c->convertToAncestor(a.get()), (kit::Rect { 15, 340, 300, 48 }));
}

} // namespace
