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
//
// The content may end above the table's bottom edge (a bottom inset, for a
// bar laid over the table), so that the last row can be scrolled into sight.
// After a flick the table glides on the run loop's clock and slows to a stop,
// at the latest at either end of its content; a touch or a new scroll stops it.
#include "kit/ui/TableViewCell.h"

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace kit {

class TableView;
class Timer;

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
    ~TableView() override;
    using View::View;
    std::string className() const override { return "UITableView"; }
    static constexpr ViewKind staticKind = ViewKind::TableView;
    ViewKind kind() const override { return staticKind; }
    // A list, named by the label its controller gives it.
    AccessibilityRole accessibilityRole() const override { return AccessibilityRole::List; }

    // Both are weak links: not held, and not asked once they have gone.
    void setDataSource(std::weak_ptr<TableViewDataSource> dataSource) { m_dataSource = std::move(dataSource); }
    std::shared_ptr<TableViewDataSource> dataSource() const { return m_dataSource.lock(); }
    void setDelegate(std::weak_ptr<TableViewDelegate> delegate) { m_delegate = std::move(delegate); }
    std::shared_ptr<TableViewDelegate> delegate() const { return m_delegate.lock(); }
    float rowHeight() const { return m_rowHeight; }
    void setRowHeight(float height) { m_rowHeight = height; }

    // Every row has its cell, not only those in sight, and a scroll moves the
    // cells rather than making them anew: for short lists whose every row a
    // screen reader must find (the transfers). Rows out of sight lie outside
    // the table's bounds. Off by default.
    bool keepsEveryRow() const { return m_keepsEveryRow; }
    void setKeepsEveryRow(bool keeps);

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
    // Stops a glide; clamped to [0, maximumContentOffset()].
    void setContentOffset(float y);
    float maximumContentOffset() const;
    void scrollToRowAtIndexPath(IndexPath indexPath);
    // Points at the bottom of the table that the content ends above.
    float contentInsetBottom() const { return m_insetBottom; }
    void setContentInsetBottom(float inset);

    // Momentum: glides from `velocity` (points of offset per second) and
    // slows by decelerationRate per millisecond, as a flicked list does.
    static constexpr double decelerationRate = 0.998;
    static constexpr double glideFrameInterval = 1.0 / 60;
    static constexpr float minimumGlideVelocity = 10;
    void glide(float velocity);
    void stopGliding();
    bool isGliding() const { return m_glideTimer != nullptr; }
    float glideVelocity() const { return m_glideVelocity; }

    // The keys that scroll a list: a page (the table's height less one row
    // of overlap) up or down, to the top, to the end.
    enum class ScrollKey { PageUp, PageDown, Home, End };
    void scrollForKey(ScrollKey key);
    const std::vector<std::shared_ptr<TableViewCell>>& visibleCells() const { return m_visible; }
    TableViewCell* cellForRowAtIndexPath(IndexPath indexPath) const;
    // The row a shown cell stands for; none for a cell that is not shown.
    std::optional<IndexPath> indexPathForCell(const TableViewCell& cell) const;

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
    // With every row kept: the cells where the offset and the width put them.
    void placeCells();
    void recycleVisible();
    void moveContentTo(float y);
    void glideFrame();

    std::weak_ptr<TableViewDataSource> m_dataSource;
    std::weak_ptr<TableViewDelegate> m_delegate;
    float m_rowHeight { 44 };
    float m_offset { 0 };
    float m_insetBottom { 0 };
    bool m_keepsEveryRow { false };
    float m_glideVelocity { 0 };
    std::shared_ptr<Timer> m_glideTimer;
    int m_reloads { 0 };
    std::vector<int> m_sectionStarts;  // flat index of each section's first row
    std::vector<float> m_rowTops;      // top of each flat row, then the content height
    std::vector<std::shared_ptr<TableViewCell>> m_visible;
    std::vector<int> m_visibleRows;    // flat index of each visible cell
    std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> m_pool;
    std::optional<IndexPath> m_selected;
};

} // namespace kit
