#pragma once
// View animation blocks, as the handheld has them: between begin and commit,
// changes of a view's frame, alpha, transform and background colour are
// animated over the block's duration (0.2 s unless set). The model takes the
// new value at once; a display shows the way there by asking for the
// presentation value at the run loop's time. The block's did-stop callback
// runs on the run loop when the duration has passed (a manual clock's
// advance() fires it).
//
// A view transition (flip) may be set on a container for the block; shells
// show it over the duration.
#include "kit/Geometry.h"
#include "kit/View.h"

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kit {

enum class AnimationTransition { None = 0, FlipFromLeft = 1, FlipFromRight = 2, CurlUp = 3, CurlDown = 4 };

using AnimatedValue = std::variant<Rect, float, Transform, Color>;

struct PropertyAnimation {
    std::weak_ptr<View> view;
    const View* viewAddress { nullptr };
    ViewProperty property;
    AnimatedValue from;
    AnimatedValue to;
    double start { 0 };
    double duration { 0 };
    uint64_t block { 0 };
};

struct TransitionAnimation {
    std::weak_ptr<View> view;
    AnimationTransition transition { AnimationTransition::None };
    double start { 0 };
    double duration { 0 };
    uint64_t block { 0 };
};

class ViewAnimation {
public:
    using DidStop = std::function<void(const std::string& animationID, bool finished, const std::any& context)>;
    static constexpr double defaultDuration = 0.2;

    static void beginAnimations(std::string animationID, std::any context = {});
    static void setAnimationDuration(double seconds);
    // The delegate and its did-stop message, as one callable.
    static void setAnimationDidStop(DidStop didStop);
    static void setAnimationTransition(AnimationTransition transition, View& view, bool cache);
    static void commitAnimations();
    static bool isInsideBlock();

    // Called by View's setters inside a block.
    static void record(View& view, ViewProperty property, AnimatedValue from, AnimatedValue to);

    // What runs now, for displays and tests.
    static std::vector<PropertyAnimation> activeAnimations();
    static std::vector<TransitionAnimation> activeTransitions();
    static bool isAnimating(const View& view);
    // The value to show at time `now` for an animated property; nullopt when not animated.
    static std::optional<AnimatedValue> presentationValue(const View& view, ViewProperty property, double now);
    // Drops everything (tests).
    static void reset();
};

AnimatedValue interpolate(const AnimatedValue& from, const AnimatedValue& to, double t);

} // namespace kit
