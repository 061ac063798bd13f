#pragma once
// A push button. Its action (the target and selector wired to "touch up
// inside") is one stored callable.
#include "kit/ui/View.h"

namespace kit {

class Button : public View {
public:
    using View::View;
    static std::shared_ptr<Button> create(Rect frame, std::string title, std::function<void()> action);
    std::string className() const override { return "UIButton"; }
    static constexpr ViewKind staticKind = ViewKind::Button;
    ViewKind kind() const override { return staticKind; }
    bool keepsOwnTouches() const override { return true; }
    std::string displayText() const override { return m_title; }

    // A button is named by its title or, without one (a row of a list made
    // of labels), by the words its subviews say, in order. Disabled, the
    // keyboard passes it by.
    AccessibilityRole accessibilityRole() const override { return AccessibilityRole::Button; }
    std::string accessibilityName() const override;
    AccessibilityState accessibilityState() const override;
    bool canActivate() const override { return m_enabled; }
    bool activate() override;

    const std::string& title() const { return m_title; }
    void setTitle(std::string title);
    const Color& titleColor() const { return m_titleColor; }
    void setTitleColor(const Color& color);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    // The one of several that is shown as chosen (the row in front).
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    void setAction(std::function<void()> action) { m_action = std::move(action); }

    // What a tap does: the action, if enabled.
    void sendAction();
    void touchesEnded(Point p) override;

private:
    std::string m_title;
    Color m_titleColor { Color::rgba(0.196f, 0.310f, 0.522f) };
    bool m_enabled { true };
    bool m_selected { false };
    std::function<void()> m_action;
};

} // namespace kit
