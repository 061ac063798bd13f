#include "kit/ViewAnimation.h"

#include "kit/RunLoop.h"
#include "kit/Timer.h"

#include <algorithm>

namespace kit {

namespace {

struct Block {
    uint64_t id;
    std::string name;
    std::any context;
    double duration { ViewAnimation::defaultDuration };
    ViewAnimation::DidStop didStop;
    std::vector<PropertyAnimation> properties;
    std::vector<TransitionAnimation> transitions;
};

struct State {
    std::vector<Block> open; // nested begin/commit
    std::vector<PropertyAnimation> running;
    std::vector<TransitionAnimation> runningTransitions;
    std::vector<std::shared_ptr<Timer>> endTimers;
    uint64_t nextId { 1 };
};

State& state()
{
    static State s;
    return s;
}

float lerp(float a, float b, double t) { return float(a + (b - a) * t); }

} // namespace

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
    auto& a = std::get<Color>(from);
    auto& b = std::get<Color>(to);
    return Color { lerp(a.red, b.red, t), lerp(a.green, b.green, t), lerp(a.blue, b.blue, t), lerp(a.alpha, b.alpha, t) };
}

void ViewAnimation::beginAnimations(std::string animationID, std::any context)
{
    auto& s = state();
    Block block;
    block.id = s.nextId++;
    block.name = std::move(animationID);
    block.context = std::move(context);
    s.open.push_back(std::move(block));
}

void ViewAnimation::setAnimationDuration(double seconds)
{
    if (!state().open.empty())
        state().open.back().duration = std::max(0.0, seconds);
}

void ViewAnimation::setAnimationDidStop(DidStop didStop)
{
    if (!state().open.empty())
        state().open.back().didStop = std::move(didStop);
}

void ViewAnimation::setAnimationTransition(AnimationTransition transition, View& view, bool)
{
    if (state().open.empty())
        return;
    auto& block = state().open.back();
    block.transitions.push_back(TransitionAnimation { view.weak_from_this(), transition, 0, 0, block.id });
}

bool ViewAnimation::isInsideBlock()
{
    return !state().open.empty();
}

void ViewAnimation::record(View& view, ViewProperty property, AnimatedValue from, AnimatedValue to)
{
    auto& s = state();
    if (s.open.empty())
        return;
    auto& block = s.open.back();
    // Within one block the first "from" and the last "to" count.
    for (auto& p : block.properties)
        if (p.viewAddress == &view && p.property == property) {
            p.to = std::move(to);
            return;
        }
    block.properties.push_back(PropertyAnimation { view.weak_from_this(), &view, property, std::move(from), std::move(to), 0, 0, block.id });
}

void ViewAnimation::commitAnimations()
{
    auto& s = state();
    if (s.open.empty())
        return;
    Block block = std::move(s.open.back());
    s.open.pop_back();
    const double now = RunLoop::main().now();
    for (auto& p : block.properties) {
        // A new animation of a property takes over from the one running: it
        // starts where the display is now.
        auto shownFrom = presentationValue(*p.viewAddress, p.property, now);
        std::erase_if(s.running, [&](const PropertyAnimation& r) { return r.viewAddress == p.viewAddress && r.property == p.property; });
        if (shownFrom)
            p.from = *shownFrom;
        p.start = now;
        p.duration = block.duration;
        s.running.push_back(p);
    }
    for (auto& t : block.transitions) {
        t.start = now;
        t.duration = block.duration;
        s.runningTransitions.push_back(t);
    }
    const uint64_t id = block.id;
    auto name = block.name;
    auto context = block.context;
    auto didStop = block.didStop;
    auto timer = Timer::scheduled(block.duration, false, [id, name, context, didStop](Timer& self) {
        auto& st = state();
        std::erase_if(st.running, [&](const PropertyAnimation& r) { return r.block == id; });
        std::erase_if(st.runningTransitions, [&](const TransitionAnimation& r) { return r.block == id; });
        std::erase_if(st.endTimers, [&](const std::shared_ptr<Timer>& t) { return t.get() == &self; });
        if (didStop)
            didStop(name, true, context);
    });
    s.endTimers.push_back(timer);
    // Views being animated are redrawn by displays each frame; tell them once.
    for (auto& p : block.properties)
        if (auto v = p.view.lock())
            v->changed(p.property);
}

std::vector<PropertyAnimation> ViewAnimation::activeAnimations()
{
    return state().running;
}

std::vector<TransitionAnimation> ViewAnimation::activeTransitions()
{
    return state().runningTransitions;
}

bool ViewAnimation::isAnimating(const View& view)
{
    for (auto& r : state().running)
        if (r.viewAddress == &view && !r.view.expired())
            return true;
    return false;
}

std::optional<AnimatedValue> ViewAnimation::presentationValue(const View& view, ViewProperty property, double now)
{
    for (auto& r : state().running) {
        if (r.viewAddress != &view || r.property != property || r.view.expired())
            continue;
        double t = r.duration <= 0 ? 1.0 : (now - r.start) / r.duration;
        return interpolate(r.from, r.to, t);
    }
    return std::nullopt;
}

void ViewAnimation::reset()
{
    auto& s = state();
    for (auto& t : s.endTimers)
        t->invalidate();
    s = State {};
}

} // namespace kit
