#include "kit/gfx/Animation.h"

#include "kit/core/RunLoop.h"
#include "kit/core/Timer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kit {

namespace {

struct Bezier {
    double x1, y1, x2, y2;
    static double at(double p1, double p2, double s)
    {
        // B(s) for control values 0, p1, p2, 1.
        double r = 1 - s;
        return 3 * r * r * s * p1 + 3 * r * s * s * p2 + s * s * s;
    }
    static double slope(double p1, double p2, double s)
    {
        double r = 1 - s;
        return 3 * r * r * p1 + 6 * r * s * (p2 - p1) + 3 * s * s * (1 - p2);
    }
    double yForX(double x) const
    {
        // Newton's method from x itself, then bisection where the slope is flat.
        double s = x;
        for (int i = 0; i < 8; ++i) {
            double error = at(x1, x2, s) - x;
            if (std::abs(error) < 1e-7)
                return at(y1, y2, s);
            double d = slope(x1, x2, s);
            if (std::abs(d) < 1e-6)
                break;
            s -= error / d;
        }
        double lo = 0, hi = 1;
        s = x;
        for (int i = 0; i < 60; ++i) {
            double value = at(x1, x2, s);
            if (std::abs(value - x) < 1e-7)
                break;
            (value < x ? lo : hi) = s;
            s = (lo + hi) / 2;
        }
        return at(y1, y2, s);
    }
};

float lerp(float a, float b, double t) { return float(a + (b - a) * t); }

} // namespace

double applyTimingCurve(TimingCurve curve, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    if (t == 0 || t == 1)
        return t;
    switch (curve) {
    case TimingCurve::Linear:
        return t;
    case TimingCurve::EaseIn:
        return Bezier { 0.42, 0, 1, 1 }.yForX(t);
    case TimingCurve::EaseOut:
        return Bezier { 0, 0, 0.58, 1 }.yForX(t);
    case TimingCurve::EaseInOut:
        return Bezier { 0.42, 0, 0.58, 1 }.yForX(t);
    }
    return t;
}

const char* timingCurveName(TimingCurve curve)
{
    switch (curve) {
    case TimingCurve::Linear:
        return "linear";
    case TimingCurve::EaseIn:
        return "easeIn";
    case TimingCurve::EaseOut:
        return "easeOut";
    case TimingCurve::EaseInOut:
        return "easeInOut";
    }
    return "linear";
}

AnimatedValue interpolate(const AnimatedValue& from, const AnimatedValue& to, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    if (from.index() != to.index())
        return to;
    if (auto* a = std::get_if<Rect>(&from)) {
        auto& b = std::get<Rect>(to);
        return Rect { lerp(a->x(), b.x(), t), lerp(a->y(), b.y(), t), lerp(a->width(), b.width(), t), lerp(a->height(), b.height(), t) };
    }
    if (auto* a = std::get_if<float>(&from))
        return lerp(*a, std::get<float>(to), t);
    if (auto* a = std::get_if<Transform>(&from)) {
        auto& b = std::get<Transform>(to);
        return Transform { lerp(a->a, b.a, t), lerp(a->b, b.b, t), lerp(a->c, b.c, t), lerp(a->d, b.d, t), lerp(a->tx, b.tx, t), lerp(a->ty, b.ty, t) };
    }
    if (auto* a = std::get_if<Transform3D>(&from)) {
        auto& b = std::get<Transform3D>(to);
        Transform3D out;
        for (int i = 0; i < 16; ++i)
            out.m[i] = lerp(a->m[i], b.m[i], t);
        return out;
    }
    auto& a = std::get<Color>(from);
    auto& b = std::get<Color>(to);
    return Color { lerp(a.red, b.red, t), lerp(a.green, b.green, t), lerp(a.blue, b.blue, t), lerp(a.alpha, b.alpha, t) };
}

std::string describe(const AnimatedValue& value)
{
    if (auto* r = std::get_if<Rect>(&value))
        return r->toString();
    if (auto* f = std::get_if<float>(&value))
        return formatFloat(*f);
    if (auto* t = std::get_if<Transform>(&value))
        return "affine(" + formatFloat(t->a) + "," + formatFloat(t->b) + "," + formatFloat(t->c) + "," + formatFloat(t->d) + "," + formatFloat(t->tx) + "," + formatFloat(t->ty) + ")";
    if (auto* t = std::get_if<Transform3D>(&value))
        return t->toString();
    return std::get<Color>(value).toString();
}

double Animation::progressAt(double elapsed) const
{
    if (duration <= 0)
        return 1;
    return std::clamp(elapsed / duration, 0.0, 1.0);
}

std::shared_ptr<BasicAnimation> BasicAnimation::create(std::string keyPath, AnimatedValue from, AnimatedValue to)
{
    auto a = std::shared_ptr<BasicAnimation>(new BasicAnimation);
    a->keyPath = std::move(keyPath);
    a->from = std::move(from);
    a->to = std::move(to);
    return a;
}

std::optional<AnimatedValue> BasicAnimation::valueAt(double elapsed) const
{
    return interpolate(from, to, applyTimingCurve(curve, progressAt(elapsed)));
}

std::shared_ptr<KeyframeAnimation> KeyframeAnimation::create(std::string keyPath)
{
    auto a = std::shared_ptr<KeyframeAnimation>(new KeyframeAnimation);
    a->keyPath = std::move(keyPath);
    return a;
}

std::optional<AnimatedValue> KeyframeAnimation::valueAt(double elapsed) const
{
    if (values.empty())
        return std::nullopt;
    if (values.size() == 1)
        return values.front();
    double t = applyTimingCurve(curve, progressAt(elapsed));
    auto timeOf = [&](size_t i) {
        if (keyTimes.size() == values.size())
            return keyTimes[i];
        return double(i) / double(values.size() - 1);
    };
    if (t <= timeOf(0))
        return values.front();
    for (size_t i = 1; i < values.size(); ++i) {
        double t0 = timeOf(i - 1), t1 = timeOf(i);
        if (t <= t1)
            return t1 > t0 ? interpolate(values[i - 1], values[i], (t - t0) / (t1 - t0)) : values[i];
    }
    return values.back();
}

std::shared_ptr<TransitionAnimation> TransitionAnimation::create(AnimationTransition transition)
{
    auto a = std::shared_ptr<TransitionAnimation>(new TransitionAnimation);
    a->keyPath = "transition";
    a->transition = transition;
    return a;
}

FlipFrame flipFrame(AnimationTransition transition, double t, Size size)
{
    t = std::clamp(t, 0.0, 1.0);
    FlipFrame frame;
    frame.showsNewPicture = t >= 0.5;
    if (transition != AnimationTransition::FlipFromLeft && transition != AnimationTransition::FlipFromRight)
        return frame;
    // From the right, the right edge comes forward and the picture turns to
    // the left; from the left, the other way.
    double direction = transition == AnimationTransition::FlipFromRight ? -1.0 : 1.0;
    double degrees = direction * (t < 0.5 ? 180.0 * t : 180.0 * (t - 1.0));
    float radians = float(degrees * std::numbers::pi / 180.0);
    float cx = size.width / 2, cy = size.height / 2;
    float distance = std::max(1.0f, 2 * size.width);
    frame.transform = Transform3D::translation(-cx, -cy, 0)
                          .concat(Transform3D::rotation(radians, 0, 1, 0))
                          .concat(Transform3D::perspective(distance))
                          .concat(Transform3D::translation(cx, cy, 0));
    return frame;
}

AnimationSet::AnimationSet(std::function<void()> changed)
    : m_changed(std::move(changed))
{
}

AnimationSet::~AnimationSet()
{
    // The owner is going: nothing of it may be called back, so no change is
    // reported; the animations still hear that they stopped.
    m_changed = nullptr;
    while (!m_running.empty())
        stopUnfinished(m_running.begin());
}

void AnimationSet::add(std::shared_ptr<Animation> animation, const std::string& key)
{
    if (!animation)
        return;
    if (auto it = m_running.find(key); it != m_running.end())
        stopUnfinished(it);
    auto& loop = RunLoop::main();
    animation->beginTime = loop.now();
    const Animation* identity = animation.get();
    // The set owns the timer, and the loop holds timers weakly: the callback
    // cannot outlive the set.
    auto end = Timer::scheduled(loop, std::max(0.0, animation->duration), false, [this, key, identity](Timer&) { ended(key, identity); });
    m_running[key] = Running { std::move(animation), std::move(end), m_nextOrder++ };
    if (m_changed)
        m_changed();
}

void AnimationSet::ended(const std::string& key, const Animation* identity)
{
    auto it = m_running.find(key);
    if (it == m_running.end() || it->second.animation.get() != identity)
        return;
    auto animation = it->second.animation;
    it->second.end.reset();
    if (animation->removedOnCompletion)
        m_running.erase(it);
    // The owner may go inside either call: `this` is not touched after them.
    auto changed = m_changed;
    if (changed)
        changed();
    if (animation->didStop)
        animation->didStop(*animation, true);
}

void AnimationSet::stopUnfinished(std::map<std::string, Running>::iterator it)
{
    auto running = std::move(it->second);
    m_running.erase(it);
    if (running.end)
        running.end->invalidate();
    else
        return; // it had run its course and stayed on; it has said so already
    auto animation = std::move(running.animation);
    if (animation->didStop)
        RunLoop::main().post([animation] {
            if (animation->didStop)
                animation->didStop(*animation, false);
        });
}

Animation* AnimationSet::forKey(const std::string& key) const
{
    return sharedForKey(key).get();
}

std::shared_ptr<Animation> AnimationSet::sharedForKey(const std::string& key) const
{
    auto it = m_running.find(key);
    return it == m_running.end() ? nullptr : it->second.animation;
}

void AnimationSet::remove(const std::string& key)
{
    auto it = m_running.find(key);
    if (it == m_running.end())
        return;
    stopUnfinished(it);
    if (m_changed)
        m_changed();
}

void AnimationSet::removeAll()
{
    if (m_running.empty())
        return;
    while (!m_running.empty())
        stopUnfinished(m_running.begin());
    if (m_changed)
        m_changed();
}

std::vector<std::string> AnimationSet::keys() const
{
    std::vector<std::string> keys;
    for (auto& [key, running] : m_running)
        keys.push_back(key);
    return keys;
}

std::optional<AnimatedValue> AnimationSet::presentationValue(const std::string& keyPath, double now) const
{
    const Running* shown = nullptr;
    for (auto& [key, running] : m_running)
        if (running.animation->keyPath == keyPath && (!shown || running.order > shown->order))
            shown = &running;
    if (!shown)
        return std::nullopt;
    return shown->animation->valueAt(now - shown->animation->beginTime);
}

bool AnimationSet::isRunning(double now) const
{
    for (auto& [key, running] : m_running)
        if (now < running.animation->beginTime + running.animation->duration)
            return true;
    return false;
}

} // namespace kit
