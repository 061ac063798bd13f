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
