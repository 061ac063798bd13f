#pragma once
// A spinning wheel that shows work in progress. Stopped, it hides itself
// unless hidesWhenStopped is turned off.
#include "kit/ui/View.h"

namespace kit {

enum class ActivityIndicatorViewStyle { WhiteLarge, White, Gray };

class ActivityIndicatorView : public View {
public:
    using View::View;
    explicit ActivityIndicatorView(Rect frame, ActivityIndicatorViewStyle style = ActivityIndicatorViewStyle::White);
    std::string className() const override { return "UIActivityIndicatorView"; }
    static constexpr ViewKind staticKind = ViewKind::ActivityIndicatorView;
    ViewKind kind() const override { return staticKind; }
    // "Busy" while it turns; stopped, it has nothing to say and is no object.
    AccessibilityRole accessibilityRole() const override;
    std::string accessibilityName() const override;
    AccessibilityState accessibilityState() const override;
    std::string displayText() const override { return m_animating ? "(turning)" : ""; }

    ActivityIndicatorViewStyle style() const { return m_style; }
    void setStyle(ActivityIndicatorViewStyle style);
    bool hidesWhenStopped() const { return m_hidesWhenStopped; }
    void setHidesWhenStopped(bool hides);

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return m_animating; }

private:
    ActivityIndicatorViewStyle m_style { ActivityIndicatorViewStyle::White };
    bool m_hidesWhenStopped { true };
    bool m_animating { false };
};

} // namespace kit
