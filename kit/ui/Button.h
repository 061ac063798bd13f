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
    bool keepsOwnTouches() const override { return true; }
    std::string displayText() const override { return m_title; }

    const std::string& title() const { return m_title; }
    void setTitle(std::string title);
    const Color& titleColor() const { return m_titleColor; }
    void setTitleColor(const Color& color);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    void setAction(std::function<void()> action) { m_action = std::move(action); }

    // What a tap does: the action, if enabled.
    void sendAction();
    void touchesEnded(Point p) override;

private:
    std::string m_title;
    Color m_titleColor { Color::rgba(0.196f, 0.310f, 0.522f) };
    bool m_enabled { true };
    std::function<void()> m_action;
};

} // namespace kit
