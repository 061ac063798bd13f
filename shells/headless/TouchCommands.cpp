// Touches at window coordinates, and the drawing of views that draw.
//
// A touch goes where the window's hit test puts it when it begins; that view
// keeps the touch (moves and the end go to it, in its own coordinates) even
// when the finger leaves it, as on the handheld.
#include "shells/headless/Script.h"

#include "kit/Application.h"
#include "kit/DrawingView.h"
#include "kit/Layer.h"
#include "kit/RecordingContext.h"
#include "kit/RunLoop.h"
#include "kit/Window.h"

#include <cmath>
#include <memory>
#include <ostream>
#include <sstream>

namespace headless {

namespace {

std::weak_ptr<kit::View> touchTarget;

kit::Point parsePoint(const std::string& argument)
{
    std::istringstream in(argument);
    std::string x, y, rest;
    in >> x >> y;
    if (x.empty() || y.empty() || (in >> rest))
        throw ScriptError("give the point as X Y in window coordinates");
    return { float(parseNumber(x, "X")), float(parseNumber(y, "Y")) };
}

kit::Window& window(Script& s)
{
    auto* window = s.app().keyWindow();
    if (!window)
        throw ScriptError("the application has no window");
    return *window;
}

kit::Point local(kit::View& view, kit::Point point)
{
    return view.touchPoint(point, nullptr);
}

std::shared_ptr<kit::View> requireTouch()
{
    auto target = touchTarget.lock();
    if (!target)
        throw ScriptError("no touch is down (touch-down first)");
    return target;
}

void touchDown(Script& s, kit::Point point)
{
    if (touchTarget.lock())
        throw ScriptError("a touch is already down (touch-up first)");
    if (auto* popup = s.app().frontPopup())
        throw ScriptError(std::string("a ") + popup->className() + " is in front; answer it before touching");
    auto* hit = window(s).hitTest(point);
    if (!hit)
        throw ScriptError("nothing takes a touch at " + kit::formatFloat(point.x) + " " + kit::formatFloat(point.y));
    auto keep = hit->shared_from_this();
    touchTarget = keep;
    hit->touchesBegan(local(*hit, point));
}

void touchUp(kit::Point point)
{
    auto target = requireTouch();
    touchTarget.reset();
    target->touchesEnded(local(*target, point));
}

void printDrawing(std::ostream& out, kit::View& view)
{
    if (view.isHidden())
        return;
    if (auto* drawing = dynamic_cast<kit::DrawingView*>(&view)) {
        kit::RecordingContext context;
        drawing->drawRect(context, drawing->bounds());
        out << drawing->className() << ' ' << drawing->convertToAncestor(nullptr).toString() << '\n';
        for (auto& op : context.operations())
            out << "  " << op.toString() << '\n';
    }
    for (auto& child : view.subviews())
        printDrawing(out, *child);
}

const char* transitionName(kit::AnimationTransition transition)
{
    switch (transition) {
    case kit::AnimationTransition::FlipFromLeft:
        return "flipFromLeft";
    case kit::AnimationTransition::FlipFromRight:
        return "flipFromRight";
    case kit::AnimationTransition::CurlUp:
        return "curlUp";
    case kit::AnimationTransition::CurlDown:
        return "curlDown";
    case kit::AnimationTransition::None:
        break;
    }
    return "none";
}

// One line per animation: key, kind, what it animates, duration, curve, and
// how far it has run (or "done" for one kept after its end).
void printAnimation(std::ostream& out, int depth, const std::string& key, const kit::Animation& a, double now)
{
    out << std::string(size_t(depth) * 2, ' ') << key << ": " << a.kind() << ' ';
    if (auto* t = dynamic_cast<const kit::TransitionAnimation*>(&a))
        out << transitionName(t->transition);
    else
        out << a.keyPath;
    out << ' ' << kit::formatFloat(float(a.duration)) << " s " << kit::timingCurveName(a.curve) << ' ';
    double elapsed = now - a.beginTime;
    if (elapsed >= a.duration)
        out << "done\n";
    else
        // To the hundredth; one not yet at its end is never shown as there.
        out << "at " << kit::formatFloat(float(std::min(std::round(a.progressAt(elapsed) * 100), 99.0) / 100)) << '\n';
}

void printLayerAnimations(std::ostream& out, const kit::Layer& layer, double now)
{
    for (auto& sub : layer.sublayers()) {
        auto keys = sub->animationKeys();
        if (!keys.empty())
            out << "CALayer " << sub->frame().toString() << '\n';
        for (auto& key : keys)
            printAnimation(out, 1, key, *sub->animationForKey(key), now);
        printLayerAnimations(out, *sub, now);
    }
}

void printAnimations(std::ostream& out, kit::View& view, double now)
{
    auto keys = view.animationKeys();
    if (!keys.empty())
        out << view.className() << ' ' << view.convertToAncestor(nullptr).toString() << '\n';
    for (auto& key : keys)
        printAnimation(out, 1, key, *view.animationForKey(key), now);
    if (auto* drawing = dynamic_cast<kit::DrawingView*>(&view))
        printLayerAnimations(out, drawing->layer(), now);
    for (auto& child : view.subviews())
        printAnimations(out, *child, now);
}

} // namespace

void addTouchCommands(Script& script)
{
    script.add("touch-down", "touch-down X Y    put a finger down at X Y (window points)",
        [](Script& s, const std::string& arg) { touchDown(s, parsePoint(arg)); });
    script.add("touch-move", "touch-move X Y    move the finger that is down to X Y", [](Script&, const std::string& arg) {
        auto point = parsePoint(arg);
        auto target = requireTouch();
        target->touchesMoved(local(*target, point));
    });
    script.add("touch-up", "touch-up X Y      lift the finger at X Y", [](Script&, const std::string& arg) { touchUp(parsePoint(arg)); });
    script.add("tap-at", "tap-at X Y        touch-down and touch-up at X Y", [](Script& s, const std::string& arg) {
        auto point = parsePoint(arg);
        touchDown(s, point);
        touchUp(point);
    });
    script.add("draw", "draw              print the drawing operations of the front screen's views that draw",
        [](Script& s, const std::string&) { printDrawing(s.out(), s.frontScreen()); });
    script.add("animations", "animations        print the running animations of the window's views and layers",
        [](Script& s, const std::string&) { printAnimations(s.out(), window(s), kit::RunLoop::main().now()); });
}

} // namespace headless
