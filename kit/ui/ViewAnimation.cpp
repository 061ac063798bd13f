#include "kit/ui/ViewAnimation.h"

#include "kit/core/Platform.h"
#include "kit/core/RunLoop.h"
#include "kit/core/Timer.h"

#include <algorithm>

namespace kit {

namespace {

struct Recorded {
    View* view;
    std::weak_ptr<View> weak;
    ViewProperty property;
    AnimatedValue from;
    AnimatedValue to;
};

struct RecordedTransition {
    View* view;
    AnimationTransition transition;
};

struct Block {
    std::string name;
    std::any context;
    double duration { ViewAnimation::defaultDuration };
    TimingCurve curve { ViewAnimation::defaultCurve };
    ViewAnimation::DidStop didStop;
    std::vector<Recorded> properties;
    std::vector<RecordedTransition> transitions;
};

// Counts a committed block's animations down to its one did-stop.
struct BlockEnd {
    std::string name;
    std::any context;
    ViewAnimation::DidStop didStop;
    size_t pending { 0 };
    bool finished { true };

    void stopped(bool animationFinished)
    {
        finished = finished && animationFinished;
        if (pending == 0 || --pending > 0)
            return;
        if (didStop)
            didStop(name, finished, context);
    }
};

struct State {
    std::vector<Block> open; // nested begin/commit
    std::vector<std::weak_ptr<View>> animated;
    std::vector<std::shared_ptr<Timer>> emptyBlockEnds;
};

State& state()
{
    static State s;
    return s;
}

void remember(View& view)
{
    auto weak = view.weak_from_this();
    if (weak.expired())
        return;
    auto& animated = state().animated;
    std::erase_if(animated, [](const std::weak_ptr<View>& w) {
        auto v = w.lock();
        return !v || v->animations().empty();
    });
    auto shared = weak.lock();
    if (std::none_of(animated.begin(), animated.end(), [&](auto& w) { return w.lock() == shared; }))
        animated.push_back(weak);
}

template<typename F>
void forEachAnimatedView(F&& f)
{
    auto animated = state().animated;
    for (auto& weak : animated)
        if (auto view = weak.lock())
            f(*view);
}

ViewProperty propertyOf(const std::string& keyPath)
{
    for (auto p : { ViewProperty::Frame, ViewProperty::Alpha, ViewProperty::Transform, ViewProperty::BackgroundColor })
        if (keyPath == animationKeyPath(p))
            return p;
    return ViewProperty::Content;
}

} // namespace

void ViewAnimation::beginAnimations(std::string animationID, std::any context)
{
    Block block;
    block.name = std::move(animationID);
    block.context = std::move(context);
    state().open.push_back(std::move(block));
}

void ViewAnimation::setAnimationDuration(double seconds)
{
    if (!state().open.empty())
        state().open.back().duration = std::max(0.0, seconds);
}

void ViewAnimation::setAnimationCurve(TimingCurve curve)
{
    if (!state().open.empty())
        state().open.back().curve = curve;
}

void ViewAnimation::setAnimationDidStop(DidStop didStop)
{
    if (!state().open.empty())
        state().open.back().didStop = std::move(didStop);
}

void ViewAnimation::setAnimationTransition(AnimationTransition transition, View& view, bool)
{
    if (state().open.empty() || transition == AnimationTransition::None)
        return;
    auto& transitions = state().open.back().transitions;
    if (std::any_of(transitions.begin(), transitions.end(), [&](auto& t) { return t.view == &view; }))
        return;
    transitions.push_back(RecordedTransition { &view, transition });
    // Displays take the picture to turn away from before the block changes it.
    auto& observers = Platform::current().viewObservers();
    for (size_t i = 0; i < observers.size(); ++i)
        observers[i]->transitionWillBegin(view);
}

bool ViewAnimation::isInsideBlock()
{
    return !state().open.empty();
}

void ViewAnimation::record(View& view, ViewProperty property, AnimatedValue from, AnimatedValue to)
{
    auto& s = state();
    if (s.open.empty() || !*animationKeyPath(property))
        return;
    auto& block = s.open.back();
    // Within one block the first "from" and the last "to" count.
    for (auto& p : block.properties)
        if (p.view == &view && p.property == property) {
            p.to = std::move(to);
            return;
        }
    block.properties.push_back(Recorded { &view, view.weak_from_this(), property, std::move(from), std::move(to) });
}

void ViewAnimation::forget(View& view)
{
    for (auto& block : state().open) {
        std::erase_if(block.properties, [&](const Recorded& r) { return r.view == &view; });
        std::erase_if(block.transitions, [&](const RecordedTransition& t) { return t.view == &view; });
    }
}

void ViewAnimation::commitAnimations()
{
    auto& s = state();
    if (s.open.empty())
        return;
    Block block = std::move(s.open.back());
    s.open.pop_back();

    auto end = std::make_shared<BlockEnd>();
    end->name = block.name;
    end->context = block.context;
    end->didStop = std::move(block.didStop);
    end->pending = block.properties.size() + block.transitions.size();
    auto stopped = [end](Animation&, bool finished) { end->stopped(finished); };

    if (end->pending == 0) {
        // Nothing to animate: the block still ends after its duration.
        auto timer = Timer::scheduled(block.duration, false, [end](Timer& self) {
            std::erase_if(state().emptyBlockEnds, [&](auto& t) { return t.get() == &self; });
            end->pending = 1;
            end->stopped(true);
        });
        s.emptyBlockEnds.push_back(std::move(timer));
        return;
    }

    const double now = RunLoop::main().now();
    // Views are held while animations are attached: a did-stop posted for a
    // replaced animation cannot run before we are done, but an observer could
    // drop a view.
    std::vector<std::shared_ptr<View>> held;
    for (auto& p : block.properties)
        if (auto v = p.weak.lock())
            held.push_back(v);
    for (auto& p : block.properties) {
        const char* keyPath = animationKeyPath(p.property);
        // A new animation of a property takes over from the one running: it
        // starts where the display is now.
        auto from = p.view->presentationValue(p.property, now).value_or(p.from);
        auto animation = BasicAnimation::create(keyPath, std::move(from), std::move(p.to));
        animation->duration = block.duration;
        animation->curve = block.curve;
        animation->didStop = stopped;
        p.view->addAnimation(std::move(animation), keyPath);
        remember(*p.view);
    }
    for (auto& t : block.transitions) {
        auto animation = TransitionAnimation::create(t.transition);
        animation->animationID = block.name;
        animation->duration = block.duration;
        animation->curve = block.curve;
        animation->didStop = stopped;
        t.view->addAnimation(std::move(animation), transitionKey);
        remember(*t.view);
    }
}

std::vector<PropertyAnimation> ViewAnimation::activeAnimations()
{
    std::vector<PropertyAnimation> out;
    forEachAnimatedView([&](View& view) {
        for (auto& key : view.animationKeys()) {
            auto* basic = dynamic_cast<BasicAnimation*>(view.animationForKey(key));
            if (!basic)
                continue;
            out.push_back(PropertyAnimation { view.weak_from_this(), propertyOf(basic->keyPath), basic->from, basic->to, basic->beginTime, basic->duration, basic->curve });
        }
    });
    return out;
}

std::vector<RunningTransition> ViewAnimation::activeTransitions()
{
    std::vector<RunningTransition> out;
    forEachAnimatedView([&](View& view) {
        if (auto* t = dynamic_cast<TransitionAnimation*>(view.animationForKey(transitionKey)))
            out.push_back(RunningTransition { view.weak_from_this(), t->transition, t->beginTime, t->duration, t->animationID });
    });
    return out;
}

bool ViewAnimation::isAnimating(const View& view)
{
    return view.animations().isRunning(RunLoop::main().now());
}

void ViewAnimation::reset()
{
    auto& s = state();
    for (auto& t : s.emptyBlockEnds)
        t->invalidate();
    s.emptyBlockEnds.clear();
    s.open.clear();
    forEachAnimatedView([](View& view) {
        for (auto& key : view.animationKeys())
            view.removeAnimationForKey(key);
    });
    s.animated.clear();
}

} // namespace kit
