#include "kit/ui/Toolbar.h"

#include <algorithm>

namespace kit {

Toolbar::~Toolbar()
{
    for (auto& item : m_items)
        item->onChanged = nullptr;
}

std::string Toolbar::displayText() const
{
    std::string text;
    for (auto& item : m_items) {
        if (item->isFlexibleSpace())
            continue;
        if (!text.empty())
            text += " | ";
        text += item->title();
        if (!item->isEnabled())
            text += " (disabled)";
    }
    return text;
}

void Toolbar::releaseItems()
{
    for (auto& item : m_items)
        item->onChanged = nullptr;
    for (auto& weak : m_itemViews)
        if (auto view = weak.lock())
            view->removeFromSuperview();
    m_itemViews.clear();
}

void Toolbar::setItems(std::vector<std::shared_ptr<BarButtonItem>> items)
{
    releaseItems();
    m_items = std::move(items);
    layoutItems();
    changed(ViewProperty::Content);
}

std::vector<Rect> Toolbar::itemFrames() const
{
    std::vector<Rect> frames;
    float fixed = 0;
    int spaces = 0;
    for (auto& item : m_items) {
        if (item->isFlexibleSpace()) {
            ++spaces;
            continue;
        }
        fixed += item->width();
    }
    const float height = frame().height();
    float free = frame().width() - 2 * margin - fixed;
    // Without flexible spaces the items stand apart by the plain spacing.
    float gap = spaces ? 0 : spacing;
    if (!spaces)
        free = 0;
    float flexible = spaces ? std::max(0.0f, free / float(spaces)) : 0;
    float x = margin;
    for (auto& item : m_items) {
        if (item->isFlexibleSpace()) {
            x += flexible;
            continue;
        }
        float w = item->width();
        float h = std::min(30.0f, height);
        frames.push_back({ x, (height - h) / 2, w, h });
        x += w + gap;
    }
    return frames;
}

void Toolbar::layoutSubviews()
{
    auto frames = itemFrames();
    for (size_t i = 0; i < m_itemViews.size() && i < frames.size(); ++i)
        if (auto view = m_itemViews[i].lock())
            view->setFrame(frames[i]);
}

void Toolbar::layoutItems()
{
    auto frames = itemFrames();
    size_t next = 0;
    for (auto& item : m_items) {
        if (item->isFlexibleSpace() || next >= frames.size())
            continue;
        auto view = View::create<BarButtonItemView>(frames[next++], item);
        std::weak_ptr<BarButtonItemView> weakView = view;
        item->onChanged = [weakView] {
            if (auto v = weakView.lock())
                v->refresh();
        };
        addSubview(view);
        m_itemViews.push_back(view);
    }
}

BarButtonItemView* Toolbar::viewForItem(const BarButtonItem& item) const
{
    for (auto& weak : m_itemViews)
        if (auto view = weak.lock(); view && view->item().get() == &item)
            return view.get();
    return nullptr;
}

void Toolbar::setBarStyle(BarStyle style)
{
    update(m_barStyle, style, ViewProperty::Content);
}

void Toolbar::setTintColor(std::optional<Color> color)
{
    update(m_tint, std::move(color), ViewProperty::Content);
}

} // namespace kit
