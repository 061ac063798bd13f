#include "kit/ui/NavigationBar.h"

#include <algorithm>

namespace kit {

void NavigationItem::setTitle(std::string title)
{
    if (m_title == title)
        return;
    m_title = std::move(title);
    if (auto changed = onChanged)
        changed();
}

void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item)
{
    m_left = std::move(item);
    if (auto changed = onChanged)
        changed();
}

NavigationBar::~NavigationBar()
{
    for (auto& item : m_items)
        item->onChanged = nullptr;
}

std::string NavigationBar::displayText() const
{
    auto* top = topItem();
    if (!top)
        return {};
    std::string text = top->leftBarButtonItem() ? "[" + top->leftBarButtonItem()->title() + "] " : "";
    return text + top->title();
}

void NavigationBar::setItems(std::vector<std::shared_ptr<NavigationItem>> items)
{
    for (auto& item : m_items)
        item->onChanged = nullptr;
    m_items = std::move(items);
    if (auto* top = topItem()) {
        std::weak_ptr<View> weak = weak_from_this();
        top->onChanged = [this, weak] {
            if (!weak.expired())
                showTopItem();
        };
    }
    showTopItem();
}

void NavigationBar::showTopItem()
{
    auto* top = topItem();
    auto left = m_leftView.lock();
    auto wanted = top ? top->leftBarButtonItem() : nullptr;
    if (left && left->item() != wanted) {
        left->removeFromSuperview();
        left.reset();
    }
    const float height = frame().height();
    if (wanted && !left) {
        float h = std::min(30.0f, height);
        left = View::create<BarButtonItemView>(Rect { margin, (height - h) / 2, wanted->width(), h }, wanted);
        addSubview(left);
        m_leftView = left;
    }
    auto label = m_titleLabel.lock();
    if (!label && top) {
        // Centred in the bar, clear of the left button on both sides.
        const float side = margin + 52 + 8;
        label = View::create<Label>(Rect { side, 0, std::max(0.0f, frame().width() - 2 * side), height });
        label->setTextAlignment(TextAlignment::Center);
        label->setAutoresizingMask(ViewAutoresizingFlexibleWidth);
        label->setTextColor(Color::white());
        label->setFont(Font::boldSystemFont(20));
        insertSubview(label, 0);
        m_titleLabel = label;
    }
    if (label)
        label->setText(top ? top->title() : std::string());
    changed(ViewProperty::Content);
}

void NavigationBar::setBarStyle(BarStyle style)
{
    update(m_barStyle, style, ViewProperty::Content);
}

void NavigationBar::setTintColor(std::optional<Color> color)
{
    update(m_tint, std::move(color), ViewProperty::Content);
}

} // namespace kit
