#include "kit/TextView.h"

namespace kit {

void TextView::setText(std::string text)
{
    if (m_text == text)
        return;
    m_text = std::move(text);
    changed(ViewProperty::Content);
}

void TextView::setFont(const Font& font)
{
    if (m_font == font)
        return;
    m_font = font;
    changed(ViewProperty::Content);
}

void TextView::setTextColor(const Color& color)
{
    if (m_textColor == color)
        return;
    m_textColor = color;
    changed(ViewProperty::Content);
}

} // namespace kit
