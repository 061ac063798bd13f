#include "kit/ui/TableViewCell.h"

#include "kit/ui/TableView.h"

namespace kit {

std::shared_ptr<TableViewCell> TableViewCell::create(Rect frame, std::string reuseIdentifier)
{
    return std::make_shared<TableViewCell>(frame, std::move(reuseIdentifier));
}

TableViewCell::TableViewCell(Rect frame, std::string reuseIdentifier)
    : View(frame)
    , m_reuseIdentifier(std::move(reuseIdentifier))
{
    setBackgroundColor(Color::white());
}

void TableViewCell::setText(std::string text)
{
    if (m_text == text)
        return;
    m_text = std::move(text);
    changed(ViewProperty::Content);
}

void TableViewCell::setFont(const Font& font)
{
    if (m_font == font)
        return;
    m_font = font;
    changed(ViewProperty::Content);
}

void TableViewCell::setLineBreakMode(LineBreakMode mode)
{
    if (m_lineBreak == mode)
        return;
    m_lineBreak = mode;
    changed(ViewProperty::Content);
}

void TableViewCell::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    changed(ViewProperty::Content);
}

AccessibilityState TableViewCell::accessibilityState() const
{
    AccessibilityState state;
    state.focusable = true;
    state.selectable = true;
    state.selected = m_selected;
    return state;
}

bool TableViewCell::activate()
{
    // Shown cells are their table's subviews; one in the reuse pool is in no row.
    auto* table = dynamic_cast<TableView*>(superview());
    if (!table)
        return false;
    auto keep = retain(); // the table's delegate may reload and let go of this cell
    auto row = table->indexPathForCell(*this);
    return row && table->tapRowAtIndexPath(*row);
}

} // namespace kit
