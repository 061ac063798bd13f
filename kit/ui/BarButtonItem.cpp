#include "kit/ui/BarButtonItem.h"

#include <algorithm>

namespace kit {

const char* barButtonSystemItemName(BarButtonSystemItem kind)
{
    switch (kind) {
    case BarButtonSystemItem::Done: return "Done";
    case BarButtonSystemItem::FlexibleSpace: return "";
    case BarButtonSystemItem::Refresh: return "Refresh";
    case BarButtonSystemItem::Stop: return "Stop";
    case BarButtonSystemItem::Action: return "Action";
    }
    return "";
}

std::shared_ptr<BarButtonItem> BarButtonItem::createSystem(BarButtonSystemItem kind, std::function<void()> action)
{
    auto item = std::make_shared<BarButtonItem>();
    item->m_system = kind;
    item->m_style = kind == BarButtonSystemItem::Done ? BarButtonItemStyle::Done : BarButtonItemStyle::Plain;
    item->m_title = barButtonSystemItemName(kind);
    item->m_action = std::move(action);
    return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::createImage(std::shared_ptr<const Image> image, std::string name,
    BarButtonItemStyle style, std::function<void()> action)
{
    auto item = std::make_shared<BarButtonItem>();
    item->m_image = std::move(image);
    item->m_title = std::move(name);
    item->m_style = style;
    item->m_action = std::move(action);
    return item;
}

void BarButtonItem::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    if (auto changed = onChanged)
        changed();
}

void BarButtonItem::sendAction()
{
    if (!m_enabled)
        return;
    // The action may drop the bar and with it this item.
    if (auto action = m_action)
        action();
}

float BarButtonItem::width() const
{
    if (!m_system)
        return std::max(30.0f, m_image ? float(m_image->width()) + 14 : 30.0f);
    switch (*m_system) {
    case BarButtonSystemItem::FlexibleSpace: return 0;
    case BarButtonSystemItem::Done: return 52;
    default: return 34;
    }
}

BarButtonItemView::BarButtonItemView(Rect frame, std::shared_ptr<BarButtonItem> item)
    : Button(frame)
    , m_item(std::move(item))
{
    setTitle(m_item->title());
    setEnabled(m_item->isEnabled());
    setAction([weak = std::weak_ptr<BarButtonItem>(m_item)] {
        if (auto item = weak.lock())
            item->sendAction();
    });
}

void BarButtonItemView::refresh()
{
    setEnabled(m_item->isEnabled());
    changed(ViewProperty::Content);
}

} // namespace kit
