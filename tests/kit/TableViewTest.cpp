#include "kit/ui/TableView.h"

#include <gtest/gtest.h>

namespace {

class Rows : public kit::TableViewDataSource, public kit::TableViewDelegate {
public:
    std::vector<int> sections { 30 };
    int made = 0;
    int asked = 0;
    std::vector<kit::IndexPath> taps;

    int numberOfSectionsInTableView(kit::TableView&) override { return int(sections.size()); }
    int tableViewNumberOfRowsInSection(kit::TableView&, int s) override { return sections[size_t(s)]; }
    std::shared_ptr<kit::TableViewCell> tableViewCellForRowAtIndexPath(kit::TableView& t, kit::IndexPath ip) override
    {
        ++asked;
        auto cell = t.dequeueReusableCellWithIdentifier("Cell");
        if (!cell) {
            ++made;
            cell = kit::TableViewCell::create({}, "Cell");
        }
        cell->setText(std::to_string(ip.section) + ":" + std::to_string(ip.row));
        return cell;
    }
    float tableViewHeightForRowAtIndexPath(kit::TableView&, kit::IndexPath ip) override { return ip.row == 0 ? 48 : 44; }
    void tableViewDidSelectRowAtIndexPath(kit::TableView&, kit::IndexPath ip) override { taps.push_back(ip); }
};

class TableViewTest : public testing::Test {
protected:
    void SetUp() override
    {
        table->setDataSource(rowsHeld);
        table->setDelegate(rowsHeld);
    }
    std::shared_ptr<Rows> rowsHeld = std::make_shared<Rows>();
    Rows& rows = *rowsHeld;
    std::shared_ptr<kit::TableView> table = kit::View::create<kit::TableView>(kit::Rect { 0, 0, 320, 200 });
};

TEST_F(TableViewTest, OnlyVisibleRowsHaveCellsPlacedByTheirHeights)
{
    table->reloadData();
    EXPECT_EQ(table->numberOfRows(), 30);
    EXPECT_EQ(table->contentHeight(), 48 + 29 * 44);
    // 48 + 3 * 44 = 180 < 200: rows 0 to 4 show.
    ASSERT_EQ(table->visibleCells().size(), 5u);
    EXPECT_EQ(table->subviews().size(), 5u);
    EXPECT_EQ(table->visibleCells()[0]->frame(), kit::Rect(0, 0, 320, 48));
    EXPECT_EQ(table->visibleCells()[1]->frame(), kit::Rect(0, 48, 320, 44));
    EXPECT_EQ(table->visibleCells()[4]->text(), "0:4");
}

TEST_F(TableViewTest, ReloadAndScrollReuseCells)
{
    table->reloadData();
    table->reloadData();
    EXPECT_EQ(rows.made, 5);
    table->setContentOffset(48 + 44 * 10);
    EXPECT_EQ(rows.made, 5);
    ASSERT_FALSE(table->visibleCells().empty());
    EXPECT_EQ(table->visibleCells()[0]->text(), "0:11");
    EXPECT_EQ(table->visibleCells()[0]->frame().y(), 0);
    // Past the end is clamped to the last screenful.
    table->setContentOffset(1e6f);
    EXPECT_EQ(table->contentOffset(), table->contentHeight() - 200);
    EXPECT_EQ(table->visibleCells().back()->text(), "0:29");
    // Fewer rows after a reload pull the offset back.
    rows.sections = { 2 };
    table->reloadData();
    EXPECT_EQ(table->contentOffset(), 0);
    EXPECT_EQ(table->visibleCells().size(), 2u);
}

TEST_F(TableViewTest, TapsFindTheirRowAcrossSections)
{
    rows.sections = { 2, 0, 3 };
    table->reloadData();
    EXPECT_EQ(table->numberOfRowsInSection(1), 0);
    table->touchesEnded({ 10, 47 });
    table->touchesEnded({ 10, 48 + 44 + 1 }); // the first row of section 2 (section 1 is empty)
    table->touchesEnded({ 10, 48 + 44 + 48 + 44 * 2 + 5 }); // below the last row
    EXPECT_TRUE(table->tapRowAtIndexPath({ 2, 2 }));
    EXPECT_FALSE(table->tapRowAtIndexPath({ 1, 0 }));
    EXPECT_FALSE(table->tapRowAtIndexPath({ 0, -1 }));
    ASSERT_EQ(rows.taps.size(), 3u);
    EXPECT_EQ(rows.taps[0], (kit::IndexPath { 0, 0 }));
    EXPECT_EQ(rows.taps[1], (kit::IndexPath { 2, 0 }));
    EXPECT_EQ(rows.taps[2], (kit::IndexPath { 2, 2 }));
}

TEST_F(TableViewTest, WithoutADataSourceTheTableIsEmpty)
{
    table->setDataSource({});
    table->reloadData();
    EXPECT_EQ(table->numberOfRows(), 0);
    EXPECT_TRUE(table->subviews().empty());
    EXPECT_FALSE(table->tapRowAtIndexPath({ 0, 0 }));
}

TEST_F(TableViewTest, ASourceAndDelegateThatGoAwayAreNeitherAskedNorToldAgain)
{
    table->reloadData();
    ASSERT_GT(table->numberOfRows(), 0);
    std::weak_ptr<Rows> watch = rowsHeld;
    rowsHeld.reset();
    ASSERT_TRUE(watch.expired()) << "the table does not hold its data source or delegate";
    EXPECT_FALSE(table->dataSource());
    EXPECT_FALSE(table->delegate());
    // Taps on the rows still shown and a reload reach nobody; the table empties.
    EXPECT_TRUE(table->tapRowAtIndexPath({ 0, 0 }));
    table->reloadData();
    EXPECT_EQ(table->numberOfRows(), 0);
    EXPECT_TRUE(table->subviews().empty());
}

} // namespace
