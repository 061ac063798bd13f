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

void Button::setSelected(bool selected)
{
    update(m_selected, selected);
}

namespace {
// The texts a row of labels shows; controls inside it speak for themselves.
void wordsWithin(const View& view, std::string& out)
{
    for (auto& child : view.subviews()) {
        if (child->isHidden())
            continue;
        if (child->accessibilityRole() == AccessibilityRole::None) {
            wordsWithin(*child, out);
        } else if (child->accessibilityRole() == AccessibilityRole::StaticText) {
            if (auto words = child->accessibilityName(); !words.empty())
                out += (out.empty() ? "" : ", ") + words;
        }
    }
}
} // namespace

std::string Button::accessibilityName() const
{
    if (!accessibilityLabel().empty())
        return accessibilityLabel();
    if (!m_title.empty())
        return m_title;
    std::string words;
    wordsWithin(*this, words);
    return words;
}

AccessibilityState Button::accessibilityState() const
{
    AccessibilityState state;
    state.disabled = !m_enabled;
    state.focusable = m_enabled;
    state.selected = m_selected;
    return state;
}

bool Button::activate()
{
    if (!m_enabled)
        return false;
    sendAction();
    return true;
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
