// The window's input: where a touch goes, what a drag on a list does, one
// finger at a time, and focus that lets go of a field that dies.
#include "kit/testing/TestEnvironment.h"
#include "kit/ui/Button.h"
#include "kit/ui/TableView.h"
#include "kit/ui/TextField.h"
#include "kit/ui/Window.h"

#include <gtest/gtest.h>

namespace {

// Twenty rows of 44 points; the first holds a button.
struct Rows : kit::TableViewDataSource, kit::TableViewDelegate {
    std::vector<int> selected;
    int buttonTaps { 0 };
    int tableViewNumberOfRowsInSection(kit::TableView&, int) override { return 20; }
    std::shared_ptr<kit::TableViewCell> tableViewCellForRowAtIndexPath(kit::TableView& table, kit::IndexPath ip) override
    {
        auto cell = kit::TableViewCell::create({ 0, 0, 320, 44 }, "");
        cell->setText("row " + std::to_string(ip.row));
        if (ip.row == 0)
            cell->addSubview(kit::Button::create({ 250, 5, 60, 34 }, "Go", [this] { ++buttonTaps; }));
        return cell;
    }
    void tableViewDidSelectRowAtIndexPath(kit::TableView&, kit::IndexPath ip) override { selected.push_back(ip.row); }
};

struct WindowTouches : ::testing::Test {
    kit::TestEnvironment env;
    std::shared_ptr<kit::Window> window = std::make_shared<kit::Window>();
    std::shared_ptr<kit::TableView> table = kit::View::create<kit::TableView>(kit::Rect { 0, 20, 320, 440 });
    std::shared_ptr<Rows> rowsHeld = std::make_shared<Rows>();
    Rows& rows = *rowsHeld;
    WindowTouches()
    {
        table->setDataSource(rowsHeld);
        table->setDelegate(rowsHeld);
        window->addSubview(table);
        table->reloadData();
    }
};

TEST_F(WindowTouches, ATouchInARowTapsTheRowAndAButtonInItKeepsItsOwn)
{
    ASSERT_TRUE(window->touchBegan({ 100, 20 + 44 + 10 }));
    EXPECT_EQ(window->touchTarget(), table.get());
    EXPECT_EQ(window->pressedView(), table.get());
    window->touchEnded({ 100, 20 + 44 + 12 });
    EXPECT_EQ(rows.selected, std::vector<int> { 1 });
    EXPECT_FALSE(window->isTouchDown());

    ASSERT_TRUE(window->touchBegan({ 270, 30 }));
    EXPECT_EQ(window->touchTarget()->className(), "UIButton");
    window->touchEnded({ 270, 30 });
    EXPECT_EQ(rows.buttonTaps, 1);
    EXPECT_EQ(rows.selected, std::vector<int> { 1 });
}

TEST_F(WindowTouches, ADragPastTheThresholdScrollsWithTheFingerAndTapsNothing)
{
    ASSERT_TRUE(window->touchBegan({ 100, 300 }));
    window->touchMoved({ 100, 300 - kit::Window::dragThreshold }); // not yet a drag
    EXPECT_FLOAT_EQ(table->contentOffset(), 0);
    EXPECT_EQ(window->pressedView(), table.get());
    window->touchMoved({ 100, 250 });
    window->touchMoved({ 100, 180 });
    EXPECT_FLOAT_EQ(table->contentOffset(), 120);
    EXPECT_EQ(window->pressedView(), nullptr);
    window->touchEnded({ 100, 180 });
    EXPECT_TRUE(rows.selected.empty());
    EXPECT_FLOAT_EQ(table->contentOffset(), 120);
}

// A finger that moves `dy` points in `steps` moves of one frame each.
static void dragBy(kit::TestEnvironment& env, kit::Window& window, float x, float fromY, float dy, int steps)
{
    for (int i = 1; i <= steps; ++i) {
        env.advance(1.0 / 60);
        window.touchMoved({ x, fromY + dy * float(i) / float(steps) });
    }
}

TEST_F(WindowTouches, ADragFollowsTheFingerOneToOneAllTheWay)
{
    ASSERT_TRUE(window->touchBegan({ 100, 400 }));
    for (float y = 398; y >= 150; y -= 2) {
        window->touchMoved({ 100, y });
        if (y < 400 - kit::Window::dragThreshold - 2) {
            EXPECT_FLOAT_EQ(table->contentOffset(), 400 - y);
        }
    }
    window->touchEnded({ 100, 150 });
    EXPECT_FLOAT_EQ(table->contentOffset(), 250);
}

TEST_F(WindowTouches, AFlickGlidesOnSlowsAndStops)
{
    ASSERT_TRUE(window->touchBegan({ 100, 300 }));
    dragBy(env, *window, 100, 300, -30, 6); // 30 points in 0.1 s: 300 points a second upward
    window->touchEnded({ 100, 270 });
    EXPECT_FLOAT_EQ(table->contentOffset(), 30);
    EXPECT_TRUE(table->isGliding());
    EXPECT_NEAR(table->glideVelocity(), 300, 1);
    float last = table->contentOffset();
    float lastStep = 1e9f;
    for (int i = 0; i < 20; ++i) {
        env.advance(1.0 / 60);
        float step = table->contentOffset() - last;
        EXPECT_GT(step, 0);
        EXPECT_LT(step, lastStep); // slower every frame
        lastStep = step;
        last = table->contentOffset();
    }
    env.advance(10);
    EXPECT_FALSE(table->isGliding());
    // About velocity / ln(1 / rate) / 1000: some 150 points further on.
    EXPECT_NEAR(table->contentOffset(), 30 + 150, 20);
    EXPECT_TRUE(rows.selected.empty());
}

TEST_F(WindowTouches, AGlideStopsAtTheEndOfTheContent)
{
    ASSERT_TRUE(window->touchBegan({ 100, 400 }));
    dragBy(env, *window, 100, 400, -200, 6); // 2,000 points a second
    window->touchEnded({ 100, 200 });
    env.advance(10);
    EXPECT_FALSE(table->isGliding());
    EXPECT_FLOAT_EQ(table->contentOffset(), table->maximumContentOffset());
    EXPECT_FLOAT_EQ(table->maximumContentOffset(), 20 * 44 - 440);
    // Flicked back down, it stops at the top.
    ASSERT_TRUE(window->touchBegan({ 100, 100 }));
    dragBy(env, *window, 100, 100, 300, 6);
    window->touchEnded({ 100, 400 });
    env.advance(10);
    EXPECT_FLOAT_EQ(table->contentOffset(), 0);
}

TEST_F(WindowTouches, AFingerThatRestsBeforeItLiftsFlicksNothing)
{
    ASSERT_TRUE(window->touchBegan({ 100, 300 }));
    dragBy(env, *window, 100, 300, -100, 6);
    env.advance(0.2);
    window->touchEnded({ 100, 200 });
    EXPECT_FALSE(table->isGliding());
    EXPECT_FLOAT_EQ(table->contentOffset(), 100);
}

TEST_F(WindowTouches, ATouchOnAGlidingListStopsItAndTapsNothing)
{
    ASSERT_TRUE(window->touchBegan({ 100, 300 }));
    dragBy(env, *window, 100, 300, -60, 6);
    window->touchEnded({ 100, 240 });
    env.advance(0.05);
    ASSERT_TRUE(table->isGliding());
    ASSERT_TRUE(window->touchBegan({ 100, 100 }));
    EXPECT_FALSE(table->isGliding());
    float caught = table->contentOffset();
    env.advance(1);
    EXPECT_FLOAT_EQ(table->contentOffset(), caught);
    window->touchEnded({ 100, 100 });
    EXPECT_TRUE(rows.selected.empty());
    // The next tap is a tap again.
    ASSERT_TRUE(window->touchBegan({ 100, 100 }));
    window->touchEnded({ 100, 100 });
    EXPECT_EQ(rows.selected.size(), 1u);
}

TEST_F(WindowTouches, KeysScrollTheFrontList)
{
    using Key = kit::TableView::ScrollKey;
    ASSERT_EQ(window->frontTable(), table.get());
    EXPECT_TRUE(window->scrollFrontTable(Key::PageDown));
    EXPECT_FLOAT_EQ(table->contentOffset(), 440 - 44);
    EXPECT_TRUE(window->scrollFrontTable(Key::End));
    EXPECT_FLOAT_EQ(table->contentOffset(), 20 * 44 - 440);
    EXPECT_TRUE(window->scrollFrontTable(Key::PageUp));
    EXPECT_FLOAT_EQ(table->contentOffset(), 20 * 44 - 440 - (440 - 44));
    EXPECT_TRUE(window->scrollFrontTable(Key::Home));
    EXPECT_FLOAT_EQ(table->contentOffset(), 0);
    // A hidden list is not the front one.
    table->setHidden(true);
    EXPECT_EQ(window->frontTable(), nullptr);
    EXPECT_FALSE(window->scrollFrontTable(Key::End));
}

TEST_F(WindowTouches, TheContentEndsAboveABottomInset)
{
    table->setContentInsetBottom(48);
    EXPECT_FLOAT_EQ(table->maximumContentOffset(), 20 * 44 + 48 - 440);
    table->scrollForKey(kit::TableView::ScrollKey::End);
    // The last row ends just above the inset, where it can be seen and tapped.
    auto last = table->rectForRowAtIndexPath({ 0, 19 });
    EXPECT_FLOAT_EQ(last.maxY() - table->contentOffset(), 440 - 48);
    ASSERT_TRUE(window->touchBegan({ 100, 20 + 440 - 48 - 10 }));
    window->touchEnded({ 100, 20 + 440 - 48 - 10 });
    EXPECT_EQ(rows.selected, std::vector<int> { 19 });
    // Less inset pulls the end back.
    table->setContentInsetBottom(0);
    EXPECT_FLOAT_EQ(table->contentOffset(), 20 * 44 - 440);
}

TEST_F(WindowTouches, ASecondFingerIsIgnoredAndACancelTapsNothing)
{
    ASSERT_TRUE(window->touchBegan({ 100, 100 }));
    EXPECT_FALSE(window->touchBegan({ 100, 300 }));
    window->touchCancelled();
    EXPECT_FALSE(window->isTouchDown());
    window->touchEnded({ 100, 100 }); // nothing is down any more
    EXPECT_TRUE(rows.selected.empty());
}

TEST_F(WindowTouches, ATargetThatGoesAwayEndsTheTouchQuietly)
{
    ASSERT_TRUE(window->touchBegan({ 100, 100 }));
    table->removeFromSuperview();
    table.reset();
    EXPECT_FALSE(window->isTouchDown());
    window->touchEnded({ 100, 100 });
    EXPECT_TRUE(rows.selected.empty());
}

TEST(WindowFocus, TheFirstResponderIsTheWindowsAndLetsGoOfAFieldThatDies)
{
    kit::TestEnvironment env;
    auto window = std::make_shared<kit::Window>();
    window->makeKeyAndVisible();
    auto field = kit::View::create<kit::TextField>(kit::Rect { 10, 30, 200, 31 });
    auto other = kit::View::create<kit::TextField>(kit::Rect { 10, 70, 200, 31 });
    window->addSubview(field);
    window->addSubview(other);
    EXPECT_TRUE(field->becomeFirstResponder());
    EXPECT_EQ(window->firstResponder(), field.get());
    EXPECT_TRUE(other->becomeFirstResponder());
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_EQ(kit::TextField::firstResponder(), other.get());
    other->removeFromSuperview();
    other.reset();
    EXPECT_EQ(window->firstResponder(), nullptr);

    // A field in no window (an alert's) takes the key window's focus; with
    // no window at all there is no focus to take.
    auto loose = kit::View::create<kit::TextField>(kit::Rect { 0, 0, 100, 31 });
    EXPECT_TRUE(loose->becomeFirstResponder());
    EXPECT_EQ(window->firstResponder(), loose.get());
    window.reset();
    EXPECT_FALSE(loose->becomeFirstResponder());
    EXPECT_FALSE(loose->isFirstResponder());
}

} // namespace
