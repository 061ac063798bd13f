#include "kit/ui/TableView.h"

#include "kit/core/Timer.h"

#include <algorithm>
#include <cmath>

namespace kit {

float TableViewDelegate::tableViewHeightForRowAtIndexPath(TableView& table, IndexPath)
{
    return table.rowHeight();
}

TableView::~TableView()
{
    if (m_glideTimer)
        m_glideTimer->invalidate();
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
    stopGliding();
    m_offset = std::clamp(m_offset, 0.0f, maximumContentOffset());
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

float TableView::maximumContentOffset() const
{
    return std::max(0.0f, contentHeight() + m_insetBottom - frame().height());
}

void TableView::setContentInsetBottom(float inset)
{
    inset = std::max(0.0f, inset);
    if (inset == m_insetBottom)
        return;
    m_insetBottom = inset;
    // Less room at the end may pull the content down.
    if (m_offset > maximumContentOffset())
        moveContentTo(maximumContentOffset());
}

void TableView::setContentOffset(float y)
{
    stopGliding();
    moveContentTo(y);
}

void TableView::moveContentTo(float y)
{
    y = std::clamp(y, 0.0f, maximumContentOffset());
    if (y == m_offset)
        return;
    m_offset = y;
    auto keep = retain();
    if (m_keepsEveryRow) {
        placeCells();
    } else {
        recycleVisible();
        layoutCells();
    }
    changed(ViewProperty::Content);
}

void TableView::layoutSubviews()
{
    auto keep = retain();
    m_offset = std::clamp(m_offset, 0.0f, std::max(0.0f, contentHeight() - frame().height()));
    if (m_keepsEveryRow && !m_visible.empty()) {
        placeCells();
    } else {
        recycleVisible();
        layoutCells();
    }
    changed(ViewProperty::Content);
}

void TableView::setKeepsEveryRow(bool keeps)
{
    if (m_keepsEveryRow == keeps)
        return;
    m_keepsEveryRow = keeps;
    auto keep = retain();
    recycleVisible();
    layoutCells();
    changed(ViewProperty::Content);
}

void TableView::placeCells()
{
    for (size_t i = 0; i < m_visible.size(); ++i) {
        const auto flat = size_t(m_visibleRows[i]);
        const float top = m_rowTops[flat];
        m_visible[i]->setFrame({ 0, top - m_offset, frame().width(), m_rowTops[flat + 1] - top });
    }
}

void TableView::scrollToRowAtIndexPath(IndexPath ip)
{
    if (!isValid(ip))
        return;
    auto r = rectForRowAtIndexPath(ip);
    const float shown = frame().height() - m_insetBottom;
    if (r.y() < m_offset)
        setContentOffset(r.y());
    else if (r.maxY() > m_offset + shown)
        setContentOffset(r.maxY() - shown);
}

void TableView::glide(float velocity)
{
    stopGliding();
    if (std::abs(velocity) < minimumGlideVelocity || !std::isfinite(velocity))
        return;
    // Nowhere to go in that direction: no glide at all.
    if ((velocity < 0 && m_offset <= 0) || (velocity > 0 && m_offset >= maximumContentOffset()))
        return;
    m_glideVelocity = velocity;
    std::weak_ptr<View> weak = weak_from_this();
    m_glideTimer = Timer::scheduled(glideFrameInterval, true, [this, weak](Timer&) {
        if (auto keep = weak.lock())
            glideFrame();
    });
}

void TableView::glideFrame()
{
    const double dt = glideFrameInterval;
    float target = m_offset + float(m_glideVelocity * dt);
    m_glideVelocity = float(m_glideVelocity * std::pow(decelerationRate, dt * 1000));
    float clamped = std::clamp(target, 0.0f, maximumContentOffset());
    bool atEnd = clamped != target;
    moveContentTo(clamped);
    if (atEnd || std::abs(m_glideVelocity) < minimumGlideVelocity)
        stopGliding();
}

void TableView::stopGliding()
{
    m_glideVelocity = 0;
    if (auto timer = std::move(m_glideTimer))
        timer->invalidate();
}

void TableView::scrollForKey(ScrollKey key)
{
    // A page keeps one row of the last page in sight.
    const float page = std::max(m_rowHeight, frame().height() - m_insetBottom - m_rowHeight);
    switch (key) {
    case ScrollKey::PageUp:
        setContentOffset(m_offset - page);
        break;
    case ScrollKey::PageDown:
        setContentOffset(m_offset + page);
        break;
    case ScrollKey::Home:
        setContentOffset(0);
        break;
    case ScrollKey::End:
        setContentOffset(maximumContentOffset());
        break;
    }
}

std::optional<IndexPath> TableView::indexPathForCell(const TableViewCell& cell) const
{
    for (size_t i = 0; i < m_visible.size(); ++i)
        if (m_visible[i].get() == &cell)
            return indexPathOfFlat(m_visibleRows[i]);
    return std::nullopt;
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
    // Rows under an inset still show through.
    const float bottom = m_keepsEveryRow ? m_rowTops.back() + 1 : m_offset + std::max(frame().height(), 0.0f);
    auto first = std::upper_bound(m_rowTops.begin(), m_rowTops.end(), m_offset);
    int flat = m_keepsEveryRow ? 0 : std::max(0, int(first - m_rowTops.begin()) - 1);
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
