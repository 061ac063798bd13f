#pragma once
#include "kit/ui/View.h"

namespace kit {

enum class TextAlignment { Left, Center, Right };
enum class LineBreakMode { WordWrap, CharacterWrap, Clip, HeadTruncation, TailTruncation, MiddleTruncation };

// A line (or lines) of text.
class Label : public View {
public:
    using View::View;
    std::string className() const override { return "UILabel"; }
    static constexpr ViewKind staticKind = ViewKind::Label;
    ViewKind kind() const override { return staticKind; }
    // A label says its text; an empty one has nothing to say and is no object.
    AccessibilityRole accessibilityRole() const override;
    std::string accessibilityName() const override { return labelOr(m_text); }
    std::string displayText() const override { return m_text; }

    const std::string& text() const { return m_text; }
    void setText(std::string text);
    const Color& textColor() const { return m_textColor; }
    void setTextColor(const Color& color);
    const Font& font() const { return m_font; }
    void setFont(const Font& font);
    TextAlignment textAlignment() const { return m_alignment; }
    void setTextAlignment(TextAlignment a);
    int numberOfLines() const { return m_lines; }
    void setNumberOfLines(int lines);
    LineBreakMode lineBreakMode() const { return m_lineBreak; }
    void setLineBreakMode(LineBreakMode mode);

private:
    std::string m_text;
    Color m_textColor { Color::black() };
    Font m_font;
    TextAlignment m_alignment { TextAlignment::Left };
    int m_lines { 1 };
    LineBreakMode m_lineBreak { LineBreakMode::TailTruncation };
};

} // namespace kit
