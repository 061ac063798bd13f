#include "kit/ui/Label.h"

namespace kit {

void Label::setText(std::string text)
{
    update(m_text, std::move(text));
}

void Label::setTextColor(const Color& color)
{
    update(m_textColor, color);
}

void Label::setFont(const Font& font)
{
    update(m_font, font);
}

void Label::setTextAlignment(TextAlignment a)
{
    update(m_alignment, a);
}

void Label::setNumberOfLines(int lines)
{
    update(m_lines, lines);
}

void Label::setLineBreakMode(LineBreakMode mode)
{
    update(m_lineBreak, mode);
}

AccessibilityRole Label::accessibilityRole() const
{
    auto name = accessibilityName();
    return name.find_first_not_of(" \t\n") == std::string::npos ? AccessibilityRole::None : AccessibilityRole::StaticText;
}

} // namespace kit
