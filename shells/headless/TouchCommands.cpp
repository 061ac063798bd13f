// Touches at window coordinates, and the drawing of views that draw.
//
// A touch goes where the window's hit test puts it when it begins; that view
// keeps the touch (moves and the end go to it, in its own coordinates) even
// when the finger leaves it, as on the handheld.
#include "shells/headless/Script.h"

#include "kit/Application.h"
#include "kit/DrawingView.h"
#include "kit/RecordingContext.h"
#include "kit/Window.h"

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
    auto frame = view.convertToAncestor(nullptr);
    return { point.x - frame.x(), point.y - frame.y() };
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
}

} // namespace headless
