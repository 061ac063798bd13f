#include "shells/qt/Scene.h"

#include "shells/qt/PeerRegistry.h"

#include "kit/Platform.h"
#include "kit/TableView.h"
#include "kit/ViewAnimation.h"

#include <algorithm>
#include <cmath>

namespace qtshell {

Scene::Scene(kit::View& root, QWidget* host)
    : m_rootView(&root)
{
    m_root = build(root, host);
    kit::Platform::current().addViewObserver(this);
    m_frameTimer.setInterval(16);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, [this] { animationFrame(); });
}

Scene::~Scene()
{
    while (!m_extraRoots.empty())
        removeRoot(*m_extraRoots.back().view);
    kit::Platform::current().removeViewObserver(this);
    if (m_root) {
        auto* root = m_root;
        drop(root);
        delete root; // a deferred delete would outlive the host widget's owner
    }
}

void Scene::addRoot(kit::View& root, QWidget* host)
{
    if (peerFor(&root))
        return;
    auto* peer = build(root, host);
    peer->show();
    m_extraRoots.push_back({ &root, peer });
}

void Scene::removeRoot(kit::View& root)
{
    auto it = std::find_if(m_extraRoots.begin(), m_extraRoots.end(), [&](const Root& r) { return r.view == &root; });
    if (it == m_extraRoots.end())
        return;
    auto* peer = it->peer;
    m_extraRoots.erase(it);
    if (peerFor(&root) == peer)
        drop(peer);
}

ViewPeer* Scene::peerFor(const kit::View* view) const
{
    auto it = m_peers.find(view);
    return it == m_peers.end() ? nullptr : it->second;
}

ViewPeer* Scene::build(kit::View& view, QWidget* parent)
{
    auto* peer = PeerRegistry::create(view, *this);
    peer->setParent(parent);
    m_peers[&view] = peer;
    peer->applyAll();
    for (auto& child : view.subviews())
        build(*child, peer);
    return peer;
}

void Scene::viewChanged(kit::View& view, kit::ViewProperty property)
{
    auto* peer = peerFor(&view);
    if (!peer)
        return;
    peer->propertyChanged(property);
}

void Scene::viewDestroyed(kit::View& view)
{
    if (auto* peer = peerFor(&view)) {
        if (peer == m_root)
            m_root = nullptr;
        std::erase_if(m_extraRoots, [&](const Root& r) { return r.peer == peer; });
        drop(peer);
    }
}

void Scene::subviewInserted(kit::View& parent, kit::View& child, size_t index)
{
    auto* parentPeer = peerFor(&parent);
    if (!parentPeer)
        return;
    auto* peer = peerFor(&child);
    if (!peer) {
        peer = build(child, parentPeer);
    } else if (peer->parentWidget() != parentPeer) {
        peer->setParent(parentPeer);
        peer->applyAll();
    }
    // Stacked under the peer of the subview that now follows it.
    auto& subviews = parent.subviews();
    ViewPeer* above = index + 1 < subviews.size() ? peerFor(subviews[index + 1].get()) : nullptr;
    if (above && above->parentWidget() == parentPeer)
        peer->stackUnder(above);
    else
        peer->raise();
}

void Scene::subviewRemoved(kit::View& parent, kit::View& child, size_t)
{
    // A subview moving within its parent keeps its peer: the insertion
    // that follows restacks it.
    if (child.superview() == &parent)
        return;
    auto* peer = peerFor(&child);
    if (peer && peer->parentWidget() == peerFor(&parent))
        drop(peer);
}

void Scene::transitionWillBegin(kit::View& view)
{
    if (auto* peer = peerFor(&view))
        peer->takeOutgoingPicture();
}

void Scene::drop(ViewPeer* peer)
{
    for (auto* object : peer->children())
        if (auto* child = dynamic_cast<ViewPeer*>(object); child && child->view())
            drop(child);
    if (auto* view = peer->view()) {
        auto it = m_peers.find(view);
        if (it != m_peers.end() && it->second == peer)
            m_peers.erase(it);
    }
    m_animating.erase(peer);
    peer->detach();
    peer->hide();
    // The peer may be inside one of its own event handlers (a tap that
    // switched tabs): delete it once that has returned.
    if (peer != m_root)
        peer->deleteLater();
}

Scene::Root Scene::rootOf(ViewPeer& from) const
{
    for (auto& root : m_extraRoots)
        if (&from == root.peer || root.peer->isAncestorOf(&from))
            return root;
    return { m_root ? m_root->view() : nullptr, m_root };
}

kit::Point Scene::toRoot(ViewPeer& from, QPoint position) const
{
    auto* root = rootOf(from).peer;
    QPoint p = root && &from != root ? from.mapTo(root, position) : position;
    return { float(p.x()), float(p.y()) };
}

kit::Point Scene::toTarget(const kit::View* target, kit::Point rootPoint) const
{
    if (!target || target == m_touchRoot)
        return rootPoint;
    return target->touchPoint(rootPoint, m_touchRoot);
}

void Scene::setTouched(kit::View* view, bool touched)
{
    if (auto* peer = peerFor(view))
        peer->setTouched(touched);
}

void Scene::touchBegan(ViewPeer& from, QPoint position)
{
    auto root = rootOf(from);
    if (!root.peer || !root.view)
        return;
    m_touchRoot = root.view;
    auto point = toRoot(from, position);
    auto* hit = root.view->hitTest(point);
    if (!hit) {
        m_touchTarget.reset();
        return;
    }
    // A row's touches go up to its table, as the handheld's responder
    // chain takes them there: the table turns them into a tap on the row.
    if (auto* table = tableAbove(hit); table && hit != table)
        hit = table;
    m_touchTarget = hit->weak_from_this();
    m_touchStart = point;
    m_scrolling = false;
    if (auto* table = dynamic_cast<kit::TableView*>(hit))
        m_offsetAtStart = table->contentOffset();
    setTouched(hit, true);
    hit->touchesBegan(toTarget(hit, point));
}

kit::TableView* Scene::tableAbove(kit::View* view)
{
    for (auto* v = view; v; v = v->superview()) {
        if (auto* table = dynamic_cast<kit::TableView*>(v))
            return table;
        // Controls inside a row keep their own touches.
        if (v->className() == "UIButton" || v->className() == "UITextField")
            return nullptr;
    }
    return nullptr;
}

void Scene::scroll(ViewPeer& from, QPoint angleDelta)
{
    auto* table = tableAbove(from.view());
    if (!table || angleDelta.y() == 0)
        return;
    // One wheel notch: about one and a half rows of the handheld's 44 points.
    table->setContentOffset(table->contentOffset() - float(angleDelta.y()) / 120.0f * 66.0f);
}

void Scene::touchMoved(ViewPeer& from, QPoint position)
{
    auto target = m_touchTarget.lock();
    if (!target)
        return;
    auto point = toRoot(from, position);
    if (auto* table = dynamic_cast<kit::TableView*>(target.get())) {
        // A drag scrolls the table, and is then no tap.
        float dy = point.y - m_touchStart.y;
        if (!m_scrolling && std::abs(dy) > 8) {
            m_scrolling = true;
            setTouched(table, false);
            table->touchesCancelled();
        }
        if (m_scrolling) {
            table->setContentOffset(m_offsetAtStart - dy);
            return;
        }
    }
    auto local = toTarget(target.get(), point);
    setTouched(target.get(), target->bounds().contains(local));
    target->touchesMoved(local);
}

void Scene::touchEnded(ViewPeer& from, QPoint position)
{
    auto target = m_touchTarget.lock();
    m_touchTarget.reset();
    if (!target)
        return;
    setTouched(target.get(), false);
    if (m_scrolling) {
        m_scrolling = false;
        return;
    }
    auto local = toTarget(target.get(), toRoot(from, position));
    target->touchesEnded(local);
}

void Scene::watchAnimation(ViewPeer& peer)
{
    m_animating.insert(&peer);
    if (!m_frameTimer.isActive())
        m_frameTimer.start();
}

void Scene::animationFrame()
{
    auto peers = m_animating;
    for (auto* peer : peers)
        if (!peer->applyPresentation())
            m_animating.erase(peer);
    if (m_animating.empty())
        m_frameTimer.stop();
}

} // namespace qtshell
