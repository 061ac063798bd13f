#include "kit/ui/TextView.h"

namespace kit {

void TextView::setText(std::string text)
{
    update(m_text, std::move(text));
}

void TextView::setFont(const Font& font)
{
    update(m_font, font);
}

void TextView::setTextColor(const Color& color)
{
    update(m_textColor, color);
}

AccessibilityState TextView::accessibilityState() const
{
    AccessibilityState state;
    state.editable = m_editable;
    state.readOnly = !m_editable;
    return state;
}

} // namespace kit
