// Touches at window coordinates, and the drawing of views that draw.
//
// Touches go to the window, which routes them as it does for the window
// shell: the view hit when the touch begins keeps it (a row's touch goes to
// its table, a drag on a table scrolls it).
#include "shells/script/Script.h"

#include "kit/ui/Application.h"
#include "kit/ui/DrawingView.h"
#include "kit/gfx/Layer.h"
#include "kit/gfx/RecordingContext.h"
#include "kit/core/RunLoop.h"
#include "kit/ui/Window.h"

#include <cmath>
#include <memory>
#include <ostream>
#include <sstream>

namespace script {

namespace {

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

kit::Window& touchedWindow(Script& s)
{
    auto& w = window(s);
    if (!w.isTouchDown())
        throw ScriptError("no touch is down (touch-down first)");
    return w;
}

void touchDown(Script& s, kit::Point point)
{
    auto& w = window(s);
    if (w.isTouchDown())
        throw ScriptError("a touch is already down (touch-up first)");
    if (auto* popup = s.app().frontPopup())
        throw ScriptError(std::string("a ") + popup->className() + " is in front; answer it before touching");
    if (!w.touchBegan(point))
        throw ScriptError("nothing takes a touch at " + kit::formatFloat(point.x) + " " + kit::formatFloat(point.y));
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
    script.add("touch-move", "touch-move X Y    move the finger that is down to X Y",
        [](Script& s, const std::string& arg) { touchedWindow(s).touchMoved(parsePoint(arg)); });
    script.add("touch-up", "touch-up X Y      lift the finger at X Y",
        [](Script& s, const std::string& arg) { touchedWindow(s).touchEnded(parsePoint(arg)); });
    script.add("tap-at", "tap-at X Y        touch-down and touch-up at X Y", [](Script& s, const std::string& arg) {
        auto point = parsePoint(arg);
        touchDown(s, point);
        window(s).touchEnded(point);
    });
    script.add("draw", "draw              print the drawing operations of the front screen's views that draw",
        [](Script& s, const std::string&) { printDrawing(s.out(), s.frontScreen()); });
    script.add("animations", "animations        print the running animations of the window's views and layers",
        [](Script& s, const std::string&) { printAnimations(s.out(), window(s), kit::RunLoop::main().now()); });
}

} // namespace script
