#pragma once
// View animation blocks, as the handheld has them: between begin and commit,
// changes of a view's frame, alpha, transform and background colour are
// recorded; at commit each becomes an animation attached to its view under
// the property's key path (kit/gfx/Animation.h), running over the block's
// duration (0.2 s unless set) on its timing curve (ease in-out unless set).
// The model takes the new value at once; a display shows the way there by
// asking the view for the presentation value at the run loop's time. A new
// animation of a property takes over from the running one where the display
// is, and the one it replaced stops unfinished.
//
// The block's did-stop callback runs once, when the last of its animations
// has stopped, with the block's name, whether all of them finished, and the
// context given at the start. A block that animated nothing ends after its
// duration, finished.
//
// A view that dies inside a block is dropped from it; one that dies while
// animated takes its animations with it (they stop unfinished).
//
// A view transition (flip) may be set on a container for the block: it is
// attached to the container under "transition"; shells show it over the
// duration, turning the picture of the container from before the block to
// after it.
#include "kit/gfx/Animation.h"
#include "kit/gfx/Geometry.h"
#include "kit/ui/View.h"

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kit {

// What runs now, for displays and tests.
struct PropertyAnimation {
    std::weak_ptr<View> view;
    ViewProperty property;
    AnimatedValue from;
    AnimatedValue to;
    double start { 0 };
    double duration { 0 };
    TimingCurve curve { TimingCurve::Linear };
};

struct RunningTransition {
    std::weak_ptr<View> view;
    AnimationTransition transition { AnimationTransition::None };
    double start { 0 };
    double duration { 0 };
    std::string animationID; // the block's name
};

class ViewAnimation {
public:
    using DidStop = std::function<void(const std::string& animationID, bool finished, const std::any& context)>;
    static constexpr double defaultDuration = Animation::defaultDuration;
    static constexpr TimingCurve defaultCurve = TimingCurve::EaseInOut;
    static constexpr const char* transitionKey = "transition";

    static void beginAnimations(std::string animationID, std::any context = {});
    static void setAnimationDuration(double seconds);
    static void setAnimationCurve(TimingCurve curve);
    // The delegate and its did-stop message, as one callable.
    static void setAnimationDidStop(DidStop didStop);
    // `cache` is the handheld's hint to draw the view once for the whole
    // transition; the shells always do.
    static void setAnimationTransition(AnimationTransition transition, View& view, bool cache);
    static void commitAnimations();
    static bool isInsideBlock();

    // Called by View's setters inside a block.
    static void record(View& view, ViewProperty property, AnimatedValue from, AnimatedValue to);
    // Called by a view that dies: an open block lets go of it.
    static void forget(View& view);

    // The views' running block animations and transitions (views made by
    // View::create; the others are animated but not listed).
    static std::vector<PropertyAnimation> activeAnimations();
    static std::vector<RunningTransition> activeTransitions();
    // Whether an animation of the view has time left at the run loop's time.
    static bool isAnimating(const View& view);
    // Drops every open block and stops every listed animation (tests).
    static void reset();
};

} // namespace kit
