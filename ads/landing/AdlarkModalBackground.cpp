#include "ads/landing/AdlarkModalBackground.h"

#include "kit/ui/Window.h"

AdlarkModalBackground::AdlarkModalBackground(kit::Rect frame)
    : kit::View(frame)
    , m_initialFrame(frame)
{
    setBackgroundColor(kit::Color::rgba(0.2f, 0.2f, 0.2f, 0.9f));
    // Grown, it covers the application frame at whatever size the screen takes.
    setAutoresizingMask(kit::ViewAutoresizingFlexibleSize);
}

void AdlarkModalBackground::expand()
{
    kit::ViewAnimation::beginAnimations("AdlarkModalBackgroundExpand");
    kit::ViewAnimation::setAnimationDuration(resizeDuration);
    kit::ViewAnimation::setAnimationDidStop(didExpandSelector);
    setFrame(kit::Window::applicationFrame());
    kit::ViewAnimation::commitAnimations();
}

void AdlarkModalBackground::shrink()
{
    kit::ViewAnimation::beginAnimations("AdlarkModalBackgroundShrink");
    kit::ViewAnimation::setAnimationDuration(resizeDuration);
    kit::ViewAnimation::setAnimationDidStop(didShrinkSelector);
    setFrame(m_initialFrame);
    kit::ViewAnimation::commitAnimations();
}

void AdlarkModalBackground::touchesEnded(kit::Point point)
{
    // Only a touch whose view is the background itself closes.
    if (hitTest(point) != this)
        return;
    if (auto dismiss = dismissSelector)
        dismiss();
}
