#include "kit/Label.h"

namespace kit {

void Label::setText(std::string text)
{
    if (m_text == text)
        return;
    m_text = std::move(text);
    changed(ViewProperty::Content);
}

void Label::setTextColor(const Color& color)
{
    if (m_textColor == color)
        return;
    m_textColor = color;
    changed(ViewProperty::Content);
}

void Label::setFont(const Font& font)
{
    if (m_font == font)
        return;
    m_font = font;
    changed(ViewProperty::Content);
}

void Label::setTextAlignment(TextAlignment a)
{
    if (m_alignment == a)
        return;
    m_alignment = a;
    changed(ViewProperty::Content);
}

void Label::setNumberOfLines(int lines)
{
    if (m_lines == lines)
        return;
    m_lines = lines;
    changed(ViewProperty::Content);
}

void Label::setLineBreakMode(LineBreakMode mode)
{
    if (m_lineBreak == mode)
        return;
    m_lineBreak = mode;
    changed(ViewProperty::Content);
}

} // namespace kit
