#include "kit/ui/View.h"

#include "kit/core/Platform.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/Window.h"

#include <algorithm>

namespace kit {

namespace {
// Observers may add or remove observers while they are told: walk by index
// over the live list.
template<typename F>
void tellObservers(F&& tell)
{
    auto& observers = Platform::current().viewObservers();
    for (size_t i = 0; i < observers.size(); ++i)
        tell(*observers[i]);
}
} // namespace

const char* animationKeyPath(ViewProperty property)
{
    switch (property) {
    case ViewProperty::Frame:
        return "frame";
    case ViewProperty::Alpha:
        return "alpha";
    case ViewProperty::Transform:
        return "transform";
    case ViewProperty::BackgroundColor:
        return "backgroundColor";
    default:
        return "";
    }
}

void ViewObserver::transitionWillBegin(View&) { }
void ViewObserver::subviewInserted(View& parent, View&, size_t) { viewChanged(parent, ViewProperty::Subviews); }
void ViewObserver::subviewRemoved(View& parent, View&, size_t) { viewChanged(parent, ViewProperty::Subviews); }

View::~View()
{
    ViewAnimation::forget(*this);
    for (auto& child : m_subviews)
        child->m_superview = nullptr;
    tellObservers([&](ViewObserver& o) { o.viewDestroyed(*this); });
}

void View::changed(ViewProperty property)
{
    tellObservers([&](ViewObserver& o) { o.viewChanged(*this, property); });
}

void View::subviewInserted(View& child, size_t index)
{
    tellObservers([&](ViewObserver& o) { o.subviewInserted(*this, child, index); });
}

void View::subviewRemoved(View& child, size_t index)
{
    tellObservers([&](ViewObserver& o) { o.subviewRemoved(*this, child, index); });
}

void View::setFrame(const Rect& frame)
{
    if (m_frame == frame)
        return;
    if (ViewAnimation::isInsideBlock())
        ViewAnimation::record(*this, ViewProperty::Frame, m_frame, frame);
    const Size oldSize = m_frame.size;
    m_frame = frame;
    changed(ViewProperty::Frame);
    if (oldSize.width != frame.width() || oldSize.height != frame.height()) {
        auto keep = retain(); // a subview's layout may call out
        if (m_autoresizesSubviews)
            resizeSubviewsWithOldSize(oldSize);
        layoutSubviews();
    }
}

namespace {
// One axis of the handheld's autoresizing: the margin before, the size and
// the margin after share the superview's change, the flexible ones in
// proportion to their sizes, evenly when those are all zero.
void resizeAxis(float& origin, float& size, float oldSuper, float newSuper, bool flexibleBefore, bool flexibleSize, bool flexibleAfter)
{
    const float delta = newSuper - oldSuper;
    const int flexible = int(flexibleBefore) + int(flexibleSize) + int(flexibleAfter);
    if (delta == 0 || flexible == 0)
        return;
    const float before = origin, after = oldSuper - origin - size;
    float total = 0;
    if (flexibleBefore)
        total += std::max(before, 0.0f);
    if (flexibleSize)
        total += std::max(size, 0.0f);
    if (flexibleAfter)
        total += std::max(after, 0.0f);
    auto share = [&](bool isFlexible, float part) {
        if (!isFlexible)
            return 0.0f;
        return total > 0 ? delta * std::max(part, 0.0f) / total : delta / float(flexible);
    };
    const float dBefore = share(flexibleBefore, before);
    const float dSize = share(flexibleSize, size);
    origin += dBefore;
    size = std::max(0.0f, size + dSize);
}
} // namespace

void View::resizeWithOldSuperviewSize(Size oldSuperviewSize)
{
    if (m_autoresizingMask == ViewAutoresizingNone || !m_superview)
        return;
    const Size now = m_superview->frame().size;
    const auto mask = m_autoresizingMask;
    Rect frame = m_frame;
    resizeAxis(frame.origin.x, frame.size.width, oldSuperviewSize.width, now.width, mask & ViewAutoresizingFlexibleLeftMargin,
        mask & ViewAutoresizingFlexibleWidth, mask & ViewAutoresizingFlexibleRightMargin);
    resizeAxis(frame.origin.y, frame.size.height, oldSuperviewSize.height, now.height, mask & ViewAutoresizingFlexibleTopMargin,
        mask & ViewAutoresizingFlexibleHeight, mask & ViewAutoresizingFlexibleBottomMargin);
    setFrame(frame);
}

void View::resizeSubviewsWithOldSize(Size oldSize)
{
    // A subview's layout may change the list: walk a copy, holding each.
    auto subviews = m_subviews;
    for (auto& child : subviews)
        if (child->m_superview == this)
            child->resizeWithOldSuperviewSize(oldSize);
}

void View::setCenter(Point c)
{
    setFrame({ c.x - m_frame.width() / 2, c.y - m_frame.height() / 2, m_frame.width(), m_frame.height() });
}

void View::setAccessibilityLabel(std::string label)
{
    // A screen reader hears of a new name as of any new content.
    update(m_accessibilityLabel, std::move(label));
}

void View::setTag(int tag)
{
    if (m_tag == tag)
        return;
    m_tag = tag;
    changed(ViewProperty::Tag);
}

void View::setAlpha(float alpha)
{
    alpha = std::clamp(alpha, 0.0f, 1.0f);
    if (m_alpha == alpha)
        return;
    if (ViewAnimation::isInsideBlock())
        ViewAnimation::record(*this, ViewProperty::Alpha, m_alpha, alpha);
    m_alpha = alpha;
    changed(ViewProperty::Alpha);
}

void View::setHidden(bool hidden)
{
    if (m_hidden == hidden)
        return;
    m_hidden = hidden;
    changed(ViewProperty::Hidden);
}

void View::setBackgroundColor(const Color& color)
{
    if (m_backgroundColor == color)
        return;
    if (ViewAnimation::isInsideBlock())
        ViewAnimation::record(*this, ViewProperty::BackgroundColor, m_backgroundColor, color);
    m_backgroundColor = color;
    changed(ViewProperty::BackgroundColor);
}

void View::setTransform(const Transform& transform)
{
    if (m_transform == transform)
        return;
    if (ViewAnimation::isInsideBlock())
        ViewAnimation::record(*this, ViewProperty::Transform, m_transform, transform);
    m_transform = transform;
    changed(ViewProperty::Transform);
}

void View::addSubview(std::shared_ptr<View> view)
{
    insertSubview(std::move(view), m_subviews.size());
}

void View::insertSubview(std::shared_ptr<View> view, size_t index)
{
    if (!view || view.get() == this || isDescendantOf(*view))
        return;
    auto keep = view;
    if (view->m_superview == this) {
        auto it = std::find(m_subviews.begin(), m_subviews.end(), view);
        size_t from = size_t(it - m_subviews.begin());
        if (from == std::min(index, m_subviews.size() - 1))
            return; // already there
        m_subviews.erase(it);
        subviewRemoved(*view, from);
    } else if (view->m_superview) {
        view->m_superview->detachChild(*view);
    }
    index = std::min(index, m_subviews.size());
    m_subviews.insert(m_subviews.begin() + long(index), view);
    view->m_superview = this;
    subviewInserted(*view, index);
    if (window())
        view->notifyMovedToWindow();
}

void View::detachChild(View& child)
{
    auto it = std::find_if(m_subviews.begin(), m_subviews.end(), [&](auto& v) { return v.get() == &child; });
    if (it == m_subviews.end())
        return;
    auto keep = *it; // the child may die when the last holder lets go; not before we are done
    size_t index = size_t(it - m_subviews.begin());
    m_subviews.erase(it);
    child.m_superview = nullptr;
    subviewRemoved(child, index);
}

void View::removeFromSuperview()
{
    if (!m_superview)
        return;
    auto keep = retain();
    m_superview->detachChild(*this);
}

void View::bringSubviewToFront(View& view)
{
    auto it = std::find_if(m_subviews.begin(), m_subviews.end(), [&](auto& v) { return v.get() == &view; });
    if (it == m_subviews.end() || it + 1 == m_subviews.end())
        return;
    insertSubview(*it, m_subviews.size() - 1);
}

void View::sendSubviewToBack(View& view)
{
    auto it = std::find_if(m_subviews.begin(), m_subviews.end(), [&](auto& v) { return v.get() == &view; });
    if (it == m_subviews.end() || it == m_subviews.begin())
        return;
    insertSubview(*it, 0);
}

View* View::viewWithTag(int tag)
{
    if (m_tag == tag)
        return this;
    for (auto& child : m_subviews)
        if (auto* found = child->viewWithTag(tag))
            return found;
    return nullptr;
}

Window* View::window() const
{
    const View* v = this;
    while (v->m_superview)
        v = v->m_superview;
    return dynamic_cast<Window*>(const_cast<View*>(v));
}

bool View::isDescendantOf(const View& other) const
{
    for (const View* v = this; v; v = v->m_superview)
        if (v == &other)
            return true;
    return false;
}

std::optional<AnimatedValue> View::presentationValue(ViewProperty property, double now) const
{
    const char* keyPath = animationKeyPath(property);
    if (!*keyPath || m_animations.empty())
        return std::nullopt;
    return m_animations.presentationValue(keyPath, now);
}

Point View::convertToSuperview(Point p) const
{
    float cx = m_frame.width() / 2, cy = m_frame.height() / 2;
    Point turned = m_transform.apply({ p.x - cx, p.y - cy });
    return { m_frame.x() + cx + turned.x, m_frame.y() + cy + turned.y };
}

std::optional<Point> View::convertFromSuperview(Point p) const
{
    if (!m_transform.isInvertible())
        return std::nullopt;
    float cx = m_frame.width() / 2, cy = m_frame.height() / 2;
    Point local = m_transform.inverted().apply({ p.x - m_frame.x() - cx, p.y - m_frame.y() - cy });
    return Point { local.x + cx, local.y + cy };
}

std::optional<Point> View::convertFromAncestor(Point point, const View* ancestor) const
{
    std::vector<const View*> chain;
    for (const View* v = this; v && v != ancestor; v = v->m_superview)
        chain.push_back(v);
    std::optional<Point> p = point;
    for (auto it = chain.rbegin(); it != chain.rend() && p; ++it)
        p = (*it)->convertFromSuperview(*p);
    return p;
}

Point View::touchPoint(Point point, const View* ancestor) const
{
    return convertFromAncestor(point, ancestor).value_or(Point { m_frame.width() / 2, m_frame.height() / 2 });
}

Rect View::convertToAncestor(const View* ancestor) const
{
    float w = m_frame.width(), h = m_frame.height();
    Point corners[4] = { { 0, 0 }, { w, 0 }, { 0, h }, { w, h } };
    for (const View* v = this; v && v != ancestor; v = v->m_superview)
        for (auto& c : corners)
            c = v->convertToSuperview(c);
    float left = corners[0].x, right = left, top = corners[0].y, bottom = top;
    for (auto& c : corners) {
        left = std::min(left, c.x);
        right = std::max(right, c.x);
        top = std::min(top, c.y);
        bottom = std::max(bottom, c.y);
    }
    return { left, top, right - left, bottom - top };
}

View* View::hitTest(Point p)
{
    if (m_hidden || m_alpha < 0.01f || !m_userInteraction)
        return nullptr;
    if (!bounds().contains(p))
        return nullptr;
    for (auto it = m_subviews.rbegin(); it != m_subviews.rend(); ++it) {
        auto& child = *it;
        auto local = child->convertFromSuperview(p);
        if (!local)
            continue;
        if (auto* hit = child->hitTest(*local))
            return hit;
    }
    return this;
}

void View::didMoveToWindow() { }

void View::notifyMovedToWindow()
{
    auto keep = retain();
    didMoveToWindow();
    if (onMovedToWindow)
        onMovedToWindow();
    auto children = m_subviews;
    for (auto& child : children)
        child->notifyMovedToWindow();
}

} // namespace kit
