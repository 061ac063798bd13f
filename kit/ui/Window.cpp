#include "kit/ui/Window.h"

#include "kit/ui/TableView.h"
#include "kit/ui/TextField.h"

#include <algorithm>
#include <cmath>

namespace kit {

namespace {
// The key window is the handheld's one window; it is not held here.
Window* g_keyWindow = nullptr;
// The live windows, not held: each takes itself out as it goes.
std::vector<Window*> g_windows;
Size g_screenSize { Window::width, Window::height };
}

Rect Window::screenBounds() { return { 0, 0, g_screenSize.width, g_screenSize.height }; }

Rect Window::applicationFrame()
{
    return { 0, statusBarHeight, g_screenSize.width, std::max(0.0f, g_screenSize.height - statusBarHeight) };
}

void Window::setScreenSize(Size size)
{
    // NaN fails every comparison: take it as the minimum too.
    size.width = size.width >= minimumWidth ? size.width : minimumWidth;
    size.height = size.height >= minimumHeight ? size.height : minimumHeight;
    if (size == g_screenSize)
        return;
    g_screenSize = size;
    auto windows = g_windows;
    for (auto* window : windows)
        if (std::find(g_windows.begin(), g_windows.end(), window) != g_windows.end())
            window->setFrame(screenBounds());
}

Window::Window() : View(screenBounds())
{
    g_windows.push_back(this);
}

Window::~Window()
{
    std::erase(g_windows, this);
    if (g_keyWindow == this)
        g_keyWindow = nullptr;
}

void Window::makeKeyAndVisible()
{
    m_key = true;
    g_keyWindow = this;
    setHidden(false);
}

Window* Window::keyWindow() { return g_keyWindow; }

View* Window::frontView() const
{
    auto& subs = subviews();
    for (auto it = subs.rbegin(); it != subs.rend(); ++it)
        if (!(*it)->isHidden())
            return it->get();
    return nullptr;
}

TableView* Window::tableTakingTouchesOf(View* view)
{
    for (auto* v = view; v; v = v->superview()) {
        if (auto* table = dynamic_cast<TableView*>(v))
            return table;
        if (v->keepsOwnTouches())
            return nullptr;
    }
    return nullptr;
}

Point Window::toTarget(View& target, Point point) const
{
    auto root = m_touch.root.lock();
    const View* ancestor = root.get() == this ? nullptr : root.get();
    if (&target == root.get())
        return point;
    return target.touchPoint(point, ancestor);
}

bool Window::touchBegan(Point point, View* root)
{
    if (isTouchDown())
        return false; // one finger at a time
    View& from = root ? *root : *this;
    auto* hit = from.hitTest(point);
    if (!hit)
        return false;
    // A row's touches go up to its table, as the handheld's responder chain
    // takes them there: the table turns them into a tap on the row.
    if (auto* table = tableTakingTouchesOf(hit))
        hit = table;
    auto keep = hit->shared_from_this();
    m_touch = {};
    m_touch.target = keep;
    m_touch.root = from.weak_from_this();
    m_touch.start = point;
    m_touch.inside = true;
    if (auto* table = dynamic_cast<TableView*>(hit))
        m_touch.offsetAtStart = table->contentOffset();
    hit->touchesBegan(toTarget(*hit, point));
    return true;
}

void Window::touchMoved(Point point)
{
    auto target = m_touch.target.lock();
    if (!target)
        return;
    if (auto* table = dynamic_cast<TableView*>(target.get())) {
        // A drag scrolls the table with the finger, and is then no tap.
        float dy = point.y - m_touch.start.y;
        if (!m_touch.scrolling && std::abs(dy) > dragThreshold) {
            m_touch.scrolling = true;
            m_touch.inside = false;
            table->touchesCancelled();
        }
        if (m_touch.scrolling) {
            table->setContentOffset(m_touch.offsetAtStart - dy);
            return;
        }
    }
    auto local = toTarget(*target, point);
    m_touch.inside = target->bounds().contains(local);
    target->touchesMoved(local);
}

void Window::touchEnded(Point point)
{
    auto target = m_touch.target.lock();
    bool scrolled = m_touch.scrolling;
    auto local = target ? toTarget(*target, point) : point;
    m_touch = {};
    if (!target || scrolled)
        return;
    target->touchesEnded(local);
}

void Window::touchCancelled()
{
    auto target = m_touch.target.lock();
    m_touch = {};
    if (target)
        target->touchesCancelled();
}

View* Window::pressedView() const
{
    return m_touch.inside && !m_touch.scrolling ? touchTarget() : nullptr;
}

bool Window::scrollTableHolding(View& view, float dy)
{
    auto* table = tableTakingTouchesOf(&view);
    if (!table)
        return false;
    table->setContentOffset(table->contentOffset() + dy);
    return true;
}

TextField* Window::firstResponder() const
{
    return static_cast<TextField*>(m_firstResponder.lock().get());
}

void Window::setFirstResponder(TextField* field)
{
    auto old = m_firstResponder.lock();
    if (old.get() == field)
        return;
    m_firstResponder = field ? field->weak_from_this() : std::weak_ptr<View>();
    if (old)
        static_cast<TextField*>(old.get())->changed(ViewProperty::Content);
    if (field)
        field->changed(ViewProperty::Content);
}

} // namespace kit
