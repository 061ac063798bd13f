#pragma once
// A scrolling list of rows in sections. The data source says how many rows
// there are and makes the cell of a row; the delegate gives row heights and
// hears taps. Both are weak links: not held, and not asked once they have gone.
//
// Only the rows that lie in the visible area (the content offset and the
// table's height) have cells, as subviews in table coordinates; a cell that
// scrolls out or is dropped by reloadData goes to the reuse pool, from which
// dequeueReusableCellWithIdentifier hands it out again. Cells are made while
// reloadData, a scroll or a change of the table's size runs, never on their own.
#include "kit/ui/TableViewCell.h"

#include <map>
#include <optional>
#include <vector>

namespace kit {

class TableView;

struct IndexPath {
    int section { 0 };
    int row { 0 };
    bool operator==(const IndexPath&) const = default;
};

class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual int numberOfSectionsInTableView(TableView&) { return 1; }
    virtual int tableViewNumberOfRowsInSection(TableView& table, int section) = 0;
    virtual std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView& table, IndexPath indexPath) = 0;
};

class TableViewDelegate {
public:
    virtual ~TableViewDelegate() = default;
    // Default: the table's rowHeight.
    virtual float tableViewHeightForRowAtIndexPath(TableView& table, IndexPath indexPath);
    virtual void tableViewDidSelectRowAtIndexPath(TableView&, IndexPath) { }
};

class TableView : public View {
public:
    using View::View;
    std::string className() const override { return "UITableView"; }

    // Both are weak links: not held, and not asked once they have gone.
    void setDataSource(std::weak_ptr<TableViewDataSource> dataSource) { m_dataSource = std::move(dataSource); }
    std::shared_ptr<TableViewDataSource> dataSource() const { return m_dataSource.lock(); }
    void setDelegate(std::weak_ptr<TableViewDelegate> delegate) { m_delegate = std::move(delegate); }
    std::shared_ptr<TableViewDelegate> delegate() const { return m_delegate.lock(); }
    float rowHeight() const { return m_rowHeight; }
    void setRowHeight(float height) { m_rowHeight = height; }

    // Asks the data source anew for everything and rebuilds the visible cells.
    void reloadData();
    int reloadCount() const { return m_reloads; }
    std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);

    int numberOfSections() const { return int(m_sectionStarts.size()); }
    int numberOfRowsInSection(int section) const;
    int numberOfRows() const { return int(m_rowTops.empty() ? 0 : m_rowTops.size() - 1); }
    // In content coordinates (the top of row 0 is 0); empty for a row that does not exist.
    Rect rectForRowAtIndexPath(IndexPath indexPath) const;
    float contentHeight() const { return m_rowTops.empty() ? 0 : m_rowTops.back(); }
    std::optional<IndexPath> indexPathForRowAtPoint(Point contentPoint) const;

    float contentOffset() const { return m_offset; }
    void setContentOffset(float y);
    void scrollToRowAtIndexPath(IndexPath indexPath);
    const std::vector<std::shared_ptr<TableViewCell>>& visibleCells() const { return m_visible; }
    TableViewCell* cellForRowAtIndexPath(IndexPath indexPath) const;

    std::optional<IndexPath> indexPathForSelectedRow() const { return m_selected; }
    // A user's tap on a row: selects it and tells the delegate. False for a row that does not exist.
    bool tapRowAtIndexPath(IndexPath indexPath);
    void touchesEnded(Point p) override;

protected:
    // A new size shows more or fewer rows: they are laid out as after a scroll.
    void layoutSubviews() override;

private:
    bool isValid(IndexPath indexPath) const;
    int flatIndex(IndexPath indexPath) const { return m_sectionStarts[size_t(indexPath.section)] + indexPath.row; }
    IndexPath indexPathOfFlat(int flat) const;
    void layoutCells();
    void recycleVisible();

    std::weak_ptr<TableViewDataSource> m_dataSource;
    std::weak_ptr<TableViewDelegate> m_delegate;
    float m_rowHeight { 44 };
    float m_offset { 0 };
    int m_reloads { 0 };
    std::vector<int> m_sectionStarts;  // flat index of each section's first row
    std::vector<float> m_rowTops;      // top of each flat row, then the content height
    std::vector<std::shared_ptr<TableViewCell>> m_visible;
    std::vector<int> m_visibleRows;    // flat index of each visible cell
    std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> m_pool;
    std::optional<IndexPath> m_selected;
};

} // namespace kit
