#include "kit/ui/TableView.h"

#include <algorithm>

namespace kit {

float TableViewDelegate::tableViewHeightForRowAtIndexPath(TableView& table, IndexPath)
{
    return table.rowHeight();
}

int TableView::numberOfRowsInSection(int section) const
{
    if (section < 0 || section >= numberOfSections())
        return 0;
    int end = size_t(section + 1) < m_sectionStarts.size() ? m_sectionStarts[size_t(section + 1)] : numberOfRows();
    return end - m_sectionStarts[size_t(section)];
}

bool TableView::isValid(IndexPath ip) const
{
    return ip.section >= 0 && ip.section < numberOfSections() && ip.row >= 0 && ip.row < numberOfRowsInSection(ip.section);
}

IndexPath TableView::indexPathOfFlat(int flat) const
{
    auto it = std::upper_bound(m_sectionStarts.begin(), m_sectionStarts.end(), flat);
    int section = int(it - m_sectionStarts.begin()) - 1;
    // Empty sections share a start with the next one; the row belongs to the last of them.
    return { section, flat - m_sectionStarts[size_t(section)] };
}

void TableView::reloadData()
{
    auto keep = retain(); // a data source may drop the table while it answers
    ++m_reloads;
    m_sectionStarts.clear();
    m_rowTops.clear();
    m_selected.reset();
    recycleVisible();
    if (auto dataSource = m_dataSource.lock()) {
        auto delegate = m_delegate.lock();
        int sections = std::max(0, dataSource->numberOfSectionsInTableView(*this));
        int flat = 0;
        for (int s = 0; s < sections; ++s) {
            m_sectionStarts.push_back(flat);
            flat += std::max(0, dataSource->tableViewNumberOfRowsInSection(*this, s));
        }
        m_rowTops.reserve(size_t(flat) + 1);
        float top = 0;
        m_rowTops.push_back(0);
        for (int s = 0; s < sections; ++s) {
            int rows = (s + 1 < sections ? m_sectionStarts[size_t(s + 1)] : flat) - m_sectionStarts[size_t(s)];
            for (int r = 0; r < rows; ++r) {
                float h = delegate ? delegate->tableViewHeightForRowAtIndexPath(*this, { s, r }) : m_rowHeight;
                top += std::max(0.0f, h);
                m_rowTops.push_back(top);
            }
        }
    }
    m_offset = std::clamp(m_offset, 0.0f, std::max(0.0f, contentHeight() - frame().height()));
    layoutCells();
    changed(ViewProperty::Content);
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier)
{
    auto it = m_pool.find(identifier);
    if (it == m_pool.end() || it->second.empty())
        return nullptr;
    auto cell = std::move(it->second.back());
    it->second.pop_back();
    cell->prepareForReuse();
    return cell;
}

Rect TableView::rectForRowAtIndexPath(IndexPath ip) const
{
    if (!isValid(ip))
        return {};
    int flat = flatIndex(ip);
    return { 0, m_rowTops[size_t(flat)], frame().width(), m_rowTops[size_t(flat) + 1] - m_rowTops[size_t(flat)] };
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point p) const
{
    if (numberOfRows() == 0 || p.y < 0 || p.y >= contentHeight() || p.x < 0 || p.x >= frame().width())
        return std::nullopt;
    auto it = std::upper_bound(m_rowTops.begin(), m_rowTops.end(), p.y);
    int flat = int(it - m_rowTops.begin()) - 1;
    if (flat < 0 || flat >= numberOfRows())
        return std::nullopt;
    return indexPathOfFlat(flat);
}

void TableView::setContentOffset(float y)
{
    y = std::clamp(y, 0.0f, std::max(0.0f, contentHeight() - frame().height()));
    if (y == m_offset)
        return;
    m_offset = y;
    auto keep = retain();
    recycleVisible();
    layoutCells();
    changed(ViewProperty::Content);
}

void TableView::layoutSubviews()
{
    auto keep = retain();
    m_offset = std::clamp(m_offset, 0.0f, std::max(0.0f, contentHeight() - frame().height()));
    recycleVisible();
    layoutCells();
    changed(ViewProperty::Content);
}

void TableView::scrollToRowAtIndexPath(IndexPath ip)
{
    if (!isValid(ip))
        return;
    auto r = rectForRowAtIndexPath(ip);
    if (r.y() < m_offset)
        setContentOffset(r.y());
    else if (r.maxY() > m_offset + frame().height())
        setContentOffset(r.maxY() - frame().height());
}

TableViewCell* TableView::cellForRowAtIndexPath(IndexPath ip) const
{
    if (!isValid(ip))
        return nullptr;
    int flat = flatIndex(ip);
    for (size_t i = 0; i < m_visibleRows.size(); ++i)
        if (m_visibleRows[i] == flat)
            return m_visible[i].get();
    return nullptr;
}

void TableView::recycleVisible()
{
    auto cells = std::move(m_visible);
    m_visible.clear();
    m_visibleRows.clear();
    for (auto& cell : cells) {
        cell->removeFromSuperview();
        m_pool[cell->reuseIdentifier()].push_back(cell);
    }
}

void TableView::layoutCells()
{
    auto dataSource = m_dataSource.lock();
    if (!dataSource || numberOfRows() == 0)
        return;
    const float bottom = m_offset + std::max(frame().height(), 0.0f);
    auto first = std::upper_bound(m_rowTops.begin(), m_rowTops.end(), m_offset);
    int flat = std::max(0, int(first - m_rowTops.begin()) - 1);
    for (; flat < numberOfRows() && m_rowTops[size_t(flat)] < bottom; ++flat) {
        auto ip = indexPathOfFlat(flat);
        auto cell = dataSource->tableViewCellForRowAtIndexPath(*this, ip);
        if (!cell)
            continue;
        float top = m_rowTops[size_t(flat)];
        cell->setFrame({ 0, top - m_offset, frame().width(), m_rowTops[size_t(flat) + 1] - top });
        cell->setSelected(m_selected == ip);
        addSubview(cell);
        m_visible.push_back(cell);
        m_visibleRows.push_back(flat);
    }
}

bool TableView::tapRowAtIndexPath(IndexPath ip)
{
    if (!isValid(ip))
        return false;
    auto keep = retain(); // the delegate may reload or drop the table
    m_selected = ip;
    if (auto* cell = cellForRowAtIndexPath(ip))
        cell->setSelected(true);
    if (auto delegate = m_delegate.lock())
        delegate->tableViewDidSelectRowAtIndexPath(*this, ip);
    return true;
}

void TableView::touchesEnded(Point p)
{
    if (auto ip = indexPathForRowAtPoint({ p.x, p.y + m_offset }))
        tapRowAtIndexPath(*ip);
}

} // namespace kit
