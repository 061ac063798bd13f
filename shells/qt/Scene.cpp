#include "shells/qt/Scene.h"

#include "shells/qt/PeerRegistry.h"

#include "kit/core/Platform.h"
#include "kit/ui/TableView.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/Window.h"

#include <QTouchEvent>

#include <algorithm>
#include <cmath>

namespace qtshell {

Scene::Scene(kit::View& root, QWidget* host)
    : m_rootView(&root)
    , m_host(host)
{
    m_root = build(root, host);
    host->installEventFilter(this);
    acceptFingers(*m_root);
    m_observing = kit::Platform::current().addViewObserver(this);
    m_frameTimer.setInterval(16);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, [this] { animationFrame(); });
}

Scene::~Scene()
{
    while (!m_extraRoots.empty())
        removeRoot(*m_extraRoots.back().view);
    m_observing.reset();
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
    acceptFingers(*peer);
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
    if (&parent == m_rootView && !above && onScreenInFront)
        onScreenInFront(*peer);
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

kit::Point Scene::toRoot(ViewPeer* rootPeer, QPointF globalPosition) const
{
    QPointF p = rootPeer ? rootPeer->mapFromGlobal(globalPosition) : globalPosition;
    return { float(p.x()), float(p.y()) };
}

kit::Window* Scene::window() const
{
    if (auto* window = dynamic_cast<kit::Window*>(m_rootView))
        return window;
    return kit::Window::keyWindow();
}

void Scene::showPressed()
{
    auto* window = this->window();
    auto* now = window ? window->pressedView() : nullptr;
    auto before = m_pressed.lock();
    if (before.get() == now)
        return;
    if (auto* peer = peerFor(before.get()))
        peer->setTouched(false);
    m_pressed = now ? now->weak_from_this() : std::weak_ptr<kit::View>();
    if (auto* peer = peerFor(now))
        peer->setTouched(true);
}

void Scene::acceptFingers(ViewPeer& root)
{
    root.setAttribute(Qt::WA_AcceptTouchEvents);
}

void Scene::touchBegan(ViewPeer& from, QPointF globalPosition)
{
    beginTouch(from, globalPosition, true);
}

void Scene::beginTouch(ViewPeer& from, QPointF globalPosition, bool grabMouse)
{
    auto* window = this->window();
    auto root = rootOf(from);
    if (!window || !root.peer || !root.view)
        return;
    m_touchRootPeer = root.peer;
    if (!window->touchBegan(toRoot(root.peer, globalPosition), root.view == window ? nullptr : root.view))
        return;
    // The peer that got the press may scroll away or be reused while the
    // finger moves; the root keeps the mouse until the touch ends.
    if (grabMouse && root.peer->isVisible())
        root.peer->grabMouse();
    showPressed();
}

void Scene::touchMoved(ViewPeer&, QPointF globalPosition)
{
    auto* window = this->window();
    if (!window || !window->isTouchDown())
        return;
    if (!m_touchRootPeer)
        return touchCancelled();
    window->touchMoved(toRoot(m_touchRootPeer, globalPosition));
    showPressed();
}

void Scene::touchEnded(ViewPeer&, QPointF globalPosition)
{
    auto* window = this->window();
    if (!window || !window->isTouchDown())
        return;
    if (!m_touchRootPeer)
        return touchCancelled();
    window->touchEnded(toRoot(m_touchRootPeer, globalPosition));
    releaseTouch();
    showPressed();
}

void Scene::touchCancelled()
{
    if (auto* window = this->window()) {
        window->touchCancelled();
        showPressed();
    }
    releaseTouch();
}

void Scene::releaseTouch()
{
    if (m_touchRootPeer && QWidget::mouseGrabber() == m_touchRootPeer)
        m_touchRootPeer->releaseMouse();
    m_touchRootPeer = nullptr;
}

bool Scene::touchEvent(ViewPeer& root, QTouchEvent& event)
{
    auto isFinger = [&](const QEventPoint& point) {
        return m_finger && m_finger->device == event.pointingDevice() && m_finger->id == point.id();
    };
    switch (event.type()) {
    case QEvent::TouchBegin: {
        // A finger whose root went in the middle of its touch never ends here.
        if (m_finger && !m_fingerRoot) {
            m_finger.reset();
            touchCancelled();
        }
        if (m_finger)
            return true; // a second finger, on another root: ignored
        const QEventPoint* first = nullptr;
        for (auto& point : event.points())
            if (point.state() == QEventPoint::State::Pressed) {
                first = &point;
                break;
            }
        if (!first)
            return true;
        const QPointF global = first->globalPosition();
        // A widget a peer hosts takes its finger as Qt gives it: as a mouse.
        if (auto* hit = root.childAt(root.mapFromGlobal(global).toPoint()); hit && !dynamic_cast<ViewPeer*>(hit))
            return false;
        m_finger = Finger { event.pointingDevice(), first->id() };
        m_fingerRoot = &root;
        beginTouch(root, global, false);
        return true;
    }
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        for (auto& point : event.points()) {
            if (!isFinger(point))
                continue; // another finger: ignored, down, moving or lifted
            if (point.state() == QEventPoint::State::Released) {
                m_finger.reset();
                touchEnded(root, point.globalPosition());
            } else if (point.state() == QEventPoint::State::Updated) {
                touchMoved(root, point.globalPosition());
            }
        }
        // Every finger on the touch's root is up: whatever was left of it ends.
        if (event.type() == QEvent::TouchEnd && m_finger && &root == m_fingerRoot) {
            m_finger.reset();
            touchCancelled();
        }
        return true;
    case QEvent::TouchCancel:
        if (m_finger && &root == m_fingerRoot) {
            m_finger.reset();
            touchCancelled();
        }
        return true;
    default:
        return false;
    }
}

void Scene::scroll(ViewPeer& from, QPoint angleDelta)
{
    auto* window = this->window();
    if (!window || !from.view() || angleDelta.y() == 0)
        return;
    // One wheel notch: about one and a half rows of the handheld's 44 points.
    window->scrollTableHolding(*from.view(), -float(angleDelta.y()) / 120.0f * 66.0f);
}

void Scene::watchAnimation(ViewPeer& peer)
{
    m_animating.insert(&peer);
    updateFrames();
}

void Scene::animationFrame()
{
    auto peers = m_animating;
    for (auto* peer : peers)
        if (!peer->applyPresentation())
            m_animating.erase(peer);
    updateFrames();
}

void Scene::updateFrames()
{
    if (m_animating.empty() || !m_host || !m_host->isVisible())
        m_frameTimer.stop();
    else if (!m_frameTimer.isActive())
        m_frameTimer.start();
}

bool Scene::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_host && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        // Shown again: what ran on meanwhile is drawn where it is now.
        if (event->type() == QEvent::Show && !m_animating.empty())
            animationFrame();
        else
            updateFrames();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace qtshell
