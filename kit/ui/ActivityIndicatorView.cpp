#include "kit/ui/ActivityIndicatorView.h"

namespace kit {

ActivityIndicatorView::ActivityIndicatorView(Rect frame, ActivityIndicatorViewStyle style)
    : View(frame)
    , m_style(style)
{
    setHidden(true);
}

void ActivityIndicatorView::setStyle(ActivityIndicatorViewStyle style)
{
    if (m_style == style)
        return;
    m_style = style;
    changed(ViewProperty::Content);
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides)
{
    m_hidesWhenStopped = hides;
    if (!m_animating)
        setHidden(hides);
}

void ActivityIndicatorView::startAnimating()
{
    if (m_animating)
        return;
    m_animating = true;
    setHidden(false);
    changed(ViewProperty::Content);
}

void ActivityIndicatorView::stopAnimating()
{
    if (!m_animating)
        return;
    m_animating = false;
    if (m_hidesWhenStopped)
        setHidden(true);
    changed(ViewProperty::Content);
}

AccessibilityRole ActivityIndicatorView::accessibilityRole() const
{
    return m_animating ? AccessibilityRole::BusyIndicator : AccessibilityRole::None;
}

std::string ActivityIndicatorView::accessibilityName() const
{
    return m_animating ? labelOr("Busy") : std::string();
}

AccessibilityState ActivityIndicatorView::accessibilityState() const
{
    AccessibilityState state;
    state.busy = m_animating;
    return state;
}

} // namespace kit
