#pragma once
// Animations of views and layers, as the handheld has them.
//
// An animation is attached to one object (a view or a layer) under a key; a
// second animation under the same key replaces the first. It animates one
// key path of its object ("frame", "alpha", "transform", "backgroundColor";
// a layer's "transform"), or, as a transition, the object's whole picture.
// The model keeps its own value; a display asks for the presentation value
// at the run loop's time.
//
// Every animation stops exactly once. It finishes when its duration has run
// (did-stop with finished = true, from a run-loop timer); it stops unfinished
// when it is replaced under its key, removed, or its object goes away (did-stop
// with finished = false, posted to the run loop, never called from inside the
// change that stopped it). What a did-stop callback may reach is decided by
// what it captured: hold owners weakly.
//
// Ownership: the object's AnimationSet holds its animations and their end
// timers; an animation holds its callback. Nothing else holds the set's
// owner, so an object dies when its holders let go, animations or not.
#include "kit/gfx/Geometry.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kit {

class Timer;

// Timing curves: the handheld's cubic Bézier curves through (0, 0) and (1, 1).
enum class TimingCurve { Linear, EaseIn, EaseOut, EaseInOut };
// The eased progress for a linear progress t in 0…1.
double applyTimingCurve(TimingCurve curve, double t);
const char* timingCurveName(TimingCurve curve);

enum class AnimationTransition { None = 0, FlipFromLeft = 1, FlipFromRight = 2, CurlUp = 3, CurlDown = 4 };

using AnimatedValue = std::variant<Rect, float, Transform, Color, Transform3D>;
// Component-wise; values of different kinds give `to`. t is clamped to 0…1.
AnimatedValue interpolate(const AnimatedValue& from, const AnimatedValue& to, double t);
std::string describe(const AnimatedValue& value);

class Animation {
public:
    static constexpr double defaultDuration = 0.2;
    using DidStop = std::function<void(Animation& animation, bool finished)>;

    virtual ~Animation() = default;
    Animation(const Animation&) = delete;
    Animation& operator=(const Animation&) = delete;

    std::string keyPath;
    double duration { defaultDuration };
    TimingCurve curve { TimingCurve::Linear };
    // Off: the animation stays on its object after it has run, showing its
    // last value, until it is removed or replaced.
    bool removedOnCompletion { true };
    DidStop didStop;

    // Set when the animation is attached.
    double beginTime { 0 };

    // Linear progress, 0…1, at a time since the beginning.
    double progressAt(double elapsed) const;
    // The value to show at a time since the beginning; nullopt for transitions.
    virtual std::optional<AnimatedValue> valueAt(double elapsed) const = 0;
    virtual std::string kind() const = 0;

protected:
    Animation() = default;
};

// From one value to another.
class BasicAnimation final : public Animation {
public:
    static std::shared_ptr<BasicAnimation> create(std::string keyPath, AnimatedValue from, AnimatedValue to);
    AnimatedValue from;
    AnimatedValue to;
    std::optional<AnimatedValue> valueAt(double elapsed) const override;
    std::string kind() const override { return "basic"; }
};

// Through key frames: values at key times (0…1, one per value, rising; when
// their count differs from the values', the values are spread evenly). The
// timing curve applies to the whole run; between key frames it is linear.
class KeyframeAnimation final : public Animation {
public:
    static std::shared_ptr<KeyframeAnimation> create(std::string keyPath);
    std::vector<double> keyTimes;
    std::vector<AnimatedValue> values;
    std::optional<AnimatedValue> valueAt(double elapsed) const override;
    std::string kind() const override { return "keyframe"; }
};

// The object's picture turns from what it showed before the change to what it
// shows after it.
class TransitionAnimation final : public Animation {
public:
    static std::shared_ptr<TransitionAnimation> create(AnimationTransition transition);
    AnimationTransition transition { AnimationTransition::None };
    // The name of the view animation block that set it.
    std::string animationID;
    std::optional<AnimatedValue> valueAt(double) const override { return std::nullopt; }
    std::string kind() const override { return "transition"; }
};

// How a flip shows at linear progress t on a picture of the given size: the
// picture turns about its vertical centre line, seen in perspective. Until
// the half the old picture turns away; after it the new one turns in.
struct FlipFrame {
    bool showsNewPicture { false };
    Transform3D transform;
};
FlipFrame flipFrame(AnimationTransition transition, double t, Size size);

// The animations of one object by key. Members of their object, never moved.
class AnimationSet {
public:
    // `changed` runs after an animation is attached, removed or has run.
    explicit AnimationSet(std::function<void()> changed = {});
    ~AnimationSet();
    AnimationSet(const AnimationSet&) = delete;
    AnimationSet& operator=(const AnimationSet&) = delete;

    void add(std::shared_ptr<Animation> animation, const std::string& key);
    Animation* forKey(const std::string& key) const;
    std::shared_ptr<Animation> sharedForKey(const std::string& key) const;
    void remove(const std::string& key);
    void removeAll();
    std::vector<std::string> keys() const;
    bool empty() const { return m_running.empty(); }

    // The value of the most recently attached animation of `keyPath`, at `now`.
    std::optional<AnimatedValue> presentationValue(const std::string& keyPath, double now) const;
    // Whether an animation has time left at `now`.
    bool isRunning(double now) const;

private:
    struct Running {
        std::shared_ptr<Animation> animation;
        std::shared_ptr<Timer> end;
        uint64_t order { 0 };
    };
    void ended(const std::string& key, const Animation* animation);
    // Takes the entry out and posts its unfinished did-stop.
    void stopUnfinished(std::map<std::string, Running>::iterator it);

    std::function<void()> m_changed;
    std::map<std::string, Running> m_running;
    uint64_t m_nextOrder { 1 };
};

} // namespace kit
