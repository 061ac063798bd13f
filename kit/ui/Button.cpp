#include "kit/ui/Button.h"

namespace kit {

std::shared_ptr<Button> Button::create(Rect frame, std::string title, std::function<void()> action)
{
    auto b = std::make_shared<Button>(frame);
    b->m_title = std::move(title);
    b->m_action = std::move(action);
    return b;
}

void Button::setTitle(std::string title)
{
    update(m_title, std::move(title));
}

void Button::setTitleColor(const Color& color)
{
    update(m_titleColor, color);
}

void Button::setEnabled(bool enabled)
{
    update(m_enabled, enabled);
}

void Button::sendAction()
{
    if (!m_enabled || !m_action)
        return;
    auto keep = retain(); // the action may take the button out of the tree
    auto action = m_action;
    action();
}

void Button::touchesEnded(Point p)
{
    if (bounds().contains(p))
        sendAction();
}

} // namespace kit
