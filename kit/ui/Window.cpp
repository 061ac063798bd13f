#include "kit/ui/Window.h"

#include "kit/core/RunLoop.h"
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
bool g_statusBarHidden = false;
}

Rect Window::screenBounds() { return { 0, 0, g_screenSize.width, g_screenSize.height }; }

Rect Window::applicationFrame()
{
    const float top = g_statusBarHidden ? 0 : statusBarHeight;
    return { 0, top, g_screenSize.width, std::max(0.0f, g_screenSize.height - top) };
}

bool Window::isStatusBarHidden() { return g_statusBarHidden; }

void Window::setStatusBarHidden(bool hidden)
{
    if (hidden == g_statusBarHidden)
        return;
    const Rect old = applicationFrame();
    g_statusBarHidden = hidden;
    const Rect now = applicationFrame();
    // The tabs' root and a presented screen cover the application frame;
    // their masks lay out what is inside them.
    auto windows = g_windows;
    for (auto* window : windows) {
        if (std::find(g_windows.begin(), g_windows.end(), window) == g_windows.end())
            continue;
        auto subviews = window->subviews();
        for (auto& view : subviews)
            if (view->frame() == old)
                view->setFrame(now);
    }
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

void Window::makeKeyWindow()
{
    g_keyWindow = this;
}

void Window::makeKeyAndVisible()
{
    makeKeyWindow();
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
    if (auto* table = dynamic_cast<TableView*>(hit)) {
        // A finger on a gliding list catches it: the list stops, no row is tapped.
        if (table->isGliding()) {
            table->stopGliding();
            m_touch.stoppedGlide = true;
            m_touch.inside = false;
        }
        m_touch.offsetAtStart = table->contentOffset();
        addSample(point);
        if (m_touch.stoppedGlide)
            return true;
    }
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
        addSample(point);
        if (!m_touch.scrolling && std::abs(dy) > dragThreshold) {
            m_touch.scrolling = true;
            m_touch.inside = false;
            if (!m_touch.stoppedGlide)
                table->touchesCancelled();
        }
        if (m_touch.scrolling) {
            table->setContentOffset(m_touch.offsetAtStart - dy);
            return;
        }
        if (m_touch.stoppedGlide)
            return;
    }
    auto local = toTarget(*target, point);
    m_touch.inside = target->bounds().contains(local);
    target->touchesMoved(local);
}

void Window::touchEnded(Point point)
{
    auto target = m_touch.target.lock();
    bool scrolled = m_touch.scrolling;
    bool stoppedGlide = m_touch.stoppedGlide;
    auto* table = dynamic_cast<TableView*>(target.get());
    float velocity = 0;
    if (table && scrolled) {
        // The release point, then the velocity: the list scrolls with it.
        table->setContentOffset(m_touch.offsetAtStart - (point.y - m_touch.start.y));
        addSample(point);
        velocity = touchVelocity();
    }
    auto local = target ? toTarget(*target, point) : point;
    m_touch = {};
    if (!target)
        return;
    if (scrolled) {
        if (table)
            table->glide(-velocity); // the finger moving down pulls the offset back
        return;
    }
    if (stoppedGlide)
        return;
    target->touchesEnded(local);
}

void Window::touchCancelled()
{
    auto target = m_touch.target.lock();
    bool stoppedGlide = m_touch.stoppedGlide;
    m_touch = {};
    if (target && !stoppedGlide)
        target->touchesCancelled();
}

void Window::addSample(Point point)
{
    double now = RunLoop::main().now();
    auto& samples = m_touch.samples;
    samples.push_back({ now, point.y });
    // Only the recent moves count; keep one older to measure across the window.
    while (samples.size() > 2 && samples[1].time < now - velocityWindow)
        samples.erase(samples.begin());
}

float Window::touchVelocity() const
{
    auto& samples = m_touch.samples;
    if (samples.size() < 2)
        return 0;
    double now = RunLoop::main().now();
    auto& last = samples.back();
    // Find the last sample where the finger was elsewhere; a finger that has
    // rested for the whole window flicks nothing.
    size_t i = samples.size() - 1;
    while (i > 0 && samples[i - 1].y == last.y)
        --i;
    if (i == 0 || now - samples[i].time >= velocityWindow)
        return 0;
    // Measured across the window: from the oldest sample within it (or the one just before it).
    size_t from = 0;
    while (from + 1 < samples.size() && samples[from + 1].time <= last.time - velocityWindow)
        ++from;
    double dt = last.time - samples[from].time;
    if (dt <= 0)
        return 0;
    float v = float((last.y - samples[from].y) / dt);
    return std::clamp(v, -maximumFlickVelocity, maximumFlickVelocity);
}

namespace {
TableView* firstShownTable(View& view)
{
    if (view.isHidden() || view.alpha() < 0.01f)
        return nullptr;
    if (auto* table = dynamic_cast<TableView*>(&view))
        return table;
    // The front-most subview first: it is the one a person sees.
    auto& subs = view.subviews();
    for (auto it = subs.rbegin(); it != subs.rend(); ++it)
        if (auto* table = firstShownTable(**it))
            return table;
    return nullptr;
}
} // namespace

TableView* Window::frontTable() const
{
    auto* front = frontView();
    return front ? firstShownTable(*front) : nullptr;
}

bool Window::scrollFrontTable(TableView::ScrollKey key)
{
    auto* table = frontTable();
    if (!table)
        return false;
    table->scrollForKey(key);
    return true;
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
    table->setContentOffset(table->contentOffset() + dy); // a wheel stops a glide
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
