#include "kit/testing/TestEnvironment.h"
#include "kit/ui/BarButtonItem.h"
#include "kit/ui/TabBarController.h"
#include "kit/ui/TableView.h"
#include "kit/ui/Toolbar.h"
#include "kit/ui/View.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/ViewController.h"
#include "kit/ui/Window.h"

#include <gtest/gtest.h>

namespace {

using namespace kit;

std::shared_ptr<View> childOf(View& parent, Rect frame, AutoresizingMask mask)
{
    auto child = View::create(frame);
    child->setAutoresizingMask(mask);
    parent.addSubview(child);
    return child;
}

TEST(AutoresizingTest, FlexiblePartsShareTheChangeInProportionToTheirSizes)
{
    auto parent = View::create(Rect { 0, 0, 200, 100 });
    // Left margin 10, width 100, right margin 90: a growth of 200 goes 10 / 100 / 90.
    auto all = childOf(*parent, { 10, 20, 100, 50 }, ViewAutoresizingFlexibleLeftMargin | ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleRightMargin);
    // Only the width and the right margin: they share it 100 : 90.
    auto two = childOf(*parent, { 10, 20, 100, 50 }, ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleRightMargin);
    // One flexible part takes it all.
    auto tall = childOf(*parent, { 10, 20, 100, 50 }, ViewAutoresizingFlexibleHeight);
    auto bottom = childOf(*parent, { 10, 20, 100, 50 }, ViewAutoresizingFlexibleTopMargin);
    auto fixed = childOf(*parent, { 10, 20, 100, 50 }, ViewAutoresizingNone);

    parent->setFrame({ 0, 0, 400, 160 });
    EXPECT_EQ(all->frame(), Rect(20, 20, 200, 50));
    EXPECT_FLOAT_EQ(two->frame().width(), 100 + 200 * 100.0f / 190);
    EXPECT_EQ(two->frame().x(), 10);
    EXPECT_EQ(tall->frame(), Rect(10, 20, 100, 110));
    EXPECT_EQ(bottom->frame(), Rect(10, 80, 100, 50));
    EXPECT_EQ(fixed->frame(), Rect(10, 20, 100, 50));

    // Back to the old size, back to the old frames.
    parent->setFrame({ 0, 0, 200, 100 });
    EXPECT_EQ(all->frame(), Rect(10, 20, 100, 50));
    EXPECT_EQ(two->frame(), Rect(10, 20, 100, 50));
    EXPECT_EQ(tall->frame(), Rect(10, 20, 100, 50));
}

TEST(AutoresizingTest, FlexibleMarginsOfNoSizeShareEvenlySoACentredViewStaysCentred)
{
    auto tab = View::create(Rect { 0, 0, 320, 411 });
    auto banner = childOf(*tab, { 0, 364, 320, 48 },
        ViewAutoresizingFlexibleLeftMargin | ViewAutoresizingFlexibleRightMargin | ViewAutoresizingFlexibleTopMargin);
    tab->setFrame({ 0, 0, 1280, 731 });
    EXPECT_EQ(banner->frame(), Rect(480, 684, 320, 48));
    tab->setFrame({ 0, 0, 720, 291 });
    EXPECT_EQ(banner->frame(), Rect(200, 244, 320, 48));
}

TEST(AutoresizingTest, ASizeChangeReachesGrandchildrenAndOnlyASizeChangeLaysOut)
{
    struct Counting : View {
        using View::View;
        int layouts = 0;
        void layoutSubviews() override { ++layouts; }
    };
    auto parent = View::create(Rect { 0, 0, 100, 100 });
    auto middle = View::create<Counting>(Rect { 0, 0, 100, 100 });
    middle->setAutoresizingMask(ViewAutoresizingFlexibleSize);
    parent->addSubview(middle);
    auto leaf = childOf(*middle, { 0, 90, 100, 10 }, ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleTopMargin);

    parent->setFrame({ 5, 5, 100, 100 }); // moved, not resized
    EXPECT_EQ(middle->layouts, 0);
    parent->setFrame({ 5, 5, 300, 200 });
    EXPECT_EQ(middle->layouts, 1);
    EXPECT_EQ(leaf->frame(), Rect(0, 190, 300, 10));

    middle->setAutoresizesSubviews(false);
    parent->setFrame({ 5, 5, 100, 100 });
    EXPECT_EQ(middle->frame(), Rect(0, 0, 100, 100));
    EXPECT_EQ(leaf->frame(), Rect(0, 190, 300, 10)) << "a view that does not autoresize its subviews leaves them";
}

TEST(AutoresizingTest, ShrinkingBelowAFlexibleSizeStopsAtZero)
{
    auto parent = View::create(Rect { 0, 0, 100, 100 });
    auto child = childOf(*parent, { 0, 0, 30, 100 }, ViewAutoresizingFlexibleWidth);
    parent->setFrame({ 0, 0, 20, 100 });
    EXPECT_EQ(child->frame().width(), 0);
    EXPECT_EQ(child->frame().x(), 0);
}

TEST(AutoresizingTest, AResizeInsideAnAnimationBlockAnimatesTheSubviewsToo)
{
    TestEnvironment env;
    auto parent = View::create(Rect { 0, 0, 100, 100 });
    auto child = childOf(*parent, { 0, 0, 100, 100 }, ViewAutoresizingFlexibleSize);
    ViewAnimation::beginAnimations("grow");
    parent->setFrame({ 0, 0, 200, 200 });
    ViewAnimation::commitAnimations();
    EXPECT_EQ(child->frame(), Rect(0, 0, 200, 200)) << "the model takes the end value at once";
    EXPECT_NE(child->animationForKey("frame"), nullptr);
}

class ScreenTest : public ::testing::Test {
protected:
    TestEnvironment env;
};

TEST_F(ScreenTest, TheWindowTakesTheScreensSizeAndTheTabsFollow)
{
    auto window = std::make_shared<Window>();
    auto tabs = std::make_shared<TabBarController>();
    std::vector<std::shared_ptr<ViewController>> controllers { std::make_shared<ViewController>(), std::make_shared<ViewController>() };
    tabs->setViewControllers(controllers);
    window->addSubview(tabs->viewPointer());
    EXPECT_EQ(tabs->tabBar()->frame(), Rect(0, 411, 320, 49));

    Window::setScreenSize({ 720, 360 });
    EXPECT_EQ(window->frame(), Rect(0, 0, 720, 360));
    EXPECT_EQ(Window::applicationFrame(), Rect(0, 20, 720, 340));
    EXPECT_EQ(tabs->view().frame(), Window::applicationFrame());
    EXPECT_EQ(tabs->tabBar()->frame(), Rect(0, 291, 720, 49)) << "the bar spans the width at the bottom";
    EXPECT_EQ(controllers[0]->view().frame(), Rect(0, 0, 720, 291)) << "the shown tab takes the rest";

    // A tab shown after the change comes in at the size in force.
    tabs->setSelectedIndex(1);
    EXPECT_EQ(controllers[1]->view().frame(), Rect(0, 0, 720, 291));

    // Below the minimum the screen stays usable; a new window starts at the size in force.
    Window::setScreenSize({ 100, 100 });
    EXPECT_EQ(Window::screenBounds(), Rect(0, 0, Window::minimumWidth, Window::minimumHeight));
    EXPECT_EQ(Window().frame(), Window::screenBounds());
}

class Rows : public TableViewDataSource {
public:
    int tableViewNumberOfRowsInSection(TableView&, int) override { return 40; }
    std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView& table, IndexPath) override
    {
        ++made;
        if (auto cell = table.dequeueReusableCellWithIdentifier("row"))
            return cell;
        return TableViewCell::create({}, "row");
    }
    int made = 0;
};

TEST_F(ScreenTest, ATallerTableShowsMoreRowsAcrossItsNewWidth)
{
    auto rows = std::make_shared<Rows>();
    auto table = View::create<TableView>(Rect { 0, 0, 320, 88 });
    table->setDataSource(rows);
    table->reloadData();
    EXPECT_EQ(table->subviews().size(), 2u); // 44-point rows
    table->setFrame({ 0, 0, 1000, 440 });
    EXPECT_EQ(table->subviews().size(), 10u);
    for (auto& cell : table->subviews())
        EXPECT_EQ(cell->frame().width(), 1000);
    // Scrolled to the end, then made taller: the offset stays within the content.
    table->setContentOffset(10000);
    table->setFrame({ 0, 0, 1000, 1000 });
    EXPECT_EQ(table->contentOffset(), 1760 - 1000);
}

TEST_F(ScreenTest, AToolbarsFlexibleSpacesTakeItsNewWidth)
{
    auto bar = View::create<Toolbar>(Rect { 0, 0, 320, 44 });
    auto left = BarButtonItem::createSystem(BarButtonSystemItem::Refresh);
    auto right = BarButtonItem::createSystem(BarButtonSystemItem::Done);
    bar->setItems({ left, BarButtonItem::createSystem(BarButtonSystemItem::FlexibleSpace), right });
    const auto* rightView = bar->viewForItem(*right);
    ASSERT_NE(rightView, nullptr);
    const float gapToEdge = 320 - rightView->frame().maxX();
    const Rect leftFrame = bar->viewForItem(*left)->frame();
    bar->setFrame({ 0, 0, 1280, 44 });
    EXPECT_EQ(bar->viewForItem(*right), rightView) << "the items' views stay";
    EXPECT_FLOAT_EQ(1280 - rightView->frame().maxX(), gapToEdge);
    EXPECT_EQ(bar->viewForItem(*left)->frame(), leftFrame);
}

} // namespace
