#pragma once
// A horizontal bar that fills from the left as a task advances.
#include "kit/ui/View.h"

namespace kit {

class ProgressView : public View {
public:
    using View::View;
    std::string className() const override { return "UIProgressView"; }
    static constexpr ViewKind staticKind = ViewKind::ProgressView;
    ViewKind kind() const override { return staticKind; }
    AccessibilityRole accessibilityRole() const override { return AccessibilityRole::ProgressBar; }
    std::string accessibilityName() const override { return labelOr("Progress"); }
    // The whole percentage reached: "42%".
    std::string accessibilityValue() const override;
    std::optional<float> accessibilityProgress() const override { return m_progress; }
    // The filled share, for the headless dump: "0.42".
    std::string displayText() const override;

    float progress() const { return m_progress; }
    // Clamped to 0...1; anything that is not a number counts as 0.
    void setProgress(float progress);

private:
    float m_progress { 0 };
};

} // namespace kit
