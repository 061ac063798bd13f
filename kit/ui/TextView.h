#pragma once
#include "kit/ui/View.h"

namespace kit {

// A scrolling block of text.
class TextView : public View {
public:
    using View::View;
    std::string className() const override { return "UITextView"; }
    static constexpr ViewKind staticKind = ViewKind::TextView;
    ViewKind kind() const override { return staticKind; }
    // Named by its label only: its text is its value.
    AccessibilityRole accessibilityRole() const override { return AccessibilityRole::TextArea; }
    std::string accessibilityValue() const override { return m_text; }
    AccessibilityState accessibilityState() const override;
    std::string displayText() const override { return m_text; }

    const std::string& text() const { return m_text; }
    void setText(std::string text);
    bool isEditable() const { return m_editable; }
    void setEditable(bool editable) { m_editable = editable; }
    const Font& font() const { return m_font; }
    void setFont(const Font& font);
    const Color& textColor() const { return m_textColor; }
    void setTextColor(const Color& color);

private:
    std::string m_text;
    bool m_editable { false };
    Font m_font { Font::systemFont(12) };
    Color m_textColor { Color::black() };
};

} // namespace kit
