#pragma once
// The dimmed background of a landing page: a dark grey (white 0.2, alpha 0.9)
// view that grows from the banner's rectangle in window coordinates to the
// application frame, and shrinks back. A touch that ends on the background
// itself (not on the page or anything on it) asks the controller to close.
//
// The controller is not held: the messages are callables that the controller
// gives, each reaching it through a weak reference.
#include "kit/ui/View.h"
#include "kit/ui/ViewAnimation.h"

#include <functional>

class AdlarkModalBackground : public kit::View {
public:
    static constexpr double resizeDuration = 0.5;

    explicit AdlarkModalBackground(kit::Rect frame);
    std::string className() const override { return "AdlarkModalBackground"; }

    // Sent when the background is tapped.
    std::function<void()> dismissSelector;
    // Did-stop messages of the growing and the shrinking animation.
    kit::ViewAnimation::DidStop didExpandSelector;
    kit::ViewAnimation::DidStop didShrinkSelector;

    const kit::Rect& initialFrame() const { return m_initialFrame; }

    void expand();
    void shrink();
    void touchesEnded(kit::Point point) override;

private:
    kit::Rect m_initialFrame;
};
