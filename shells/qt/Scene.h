#pragma once
// The shown tree: one peer widget per kit view under a root view (the
// window), kept in step with the model through kit's view observer: each
// insertion, removal or property change touches only the peer it names. It also
// routes touches the way the handheld does (the deepest visible,
// interactive view under the finger takes them, whatever widget got the
// mouse) and drives the display of running view animations.
#include "shells/qt/ViewPeer.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

namespace kit {
class TableView;
}

namespace qtshell {

class Scene : public QObject, public kit::ViewObserver {
public:
    // Shows root (and everything under it) inside host, at host's origin.
    Scene(kit::View& root, QWidget* host);
    ~Scene() override;

    // Another tree shown by the same scene, at host's origin: the views an
    // alert carries. It stays until removeRoot() or the view's end.
    void addRoot(kit::View& root, QWidget* host);
    void removeRoot(kit::View& root);

    ViewPeer* peerFor(const kit::View* view) const;
    ViewPeer* rootPeer() const { return m_root; }
    size_t peerCount() const { return m_peers.size(); }

    // kit::ViewObserver
    void viewChanged(kit::View& view, kit::ViewProperty property) override;
    void viewDestroyed(kit::View& view) override;
    void subviewInserted(kit::View& parent, kit::View& child, size_t index) override;
    void subviewRemoved(kit::View& parent, kit::View& child, size_t index) override;
    void transitionWillBegin(kit::View& view) override;

    // Touches, from the peer that got the mouse (position in its coordinates).
    void touchBegan(ViewPeer& from, QPoint position);
    void touchMoved(ViewPeer& from, QPoint position);
    void touchEnded(ViewPeer& from, QPoint position);
    // The mouse wheel over a peer scrolls the table it lies in.
    void scroll(ViewPeer& from, QPoint angleDelta);

    // Animations: peers whose view animates are redrawn each frame until the
    // animation's end; animationFrame() is one such frame (tests call it).
    void watchAnimation(ViewPeer& peer);
    void animationFrame();
    bool isAnimating() const { return !m_animating.empty(); }

private:
    ViewPeer* build(kit::View& view, QWidget* parent);
    void drop(ViewPeer* peer);
    struct Root {
        kit::View* view;
        ViewPeer* peer;
    };
    // The shown tree a peer belongs to.
    Root rootOf(ViewPeer& from) const;
    kit::Point toRoot(ViewPeer& from, QPoint position) const;
    kit::Point toTarget(const kit::View* target, kit::Point rootPoint) const;
    void setTouched(kit::View* view, bool touched);
    static kit::TableView* tableAbove(kit::View* view);

    kit::View* m_rootView;
    ViewPeer* m_root { nullptr };
    std::unordered_map<const kit::View*, ViewPeer*> m_peers;
    std::vector<Root> m_extraRoots;
    std::weak_ptr<kit::View> m_touchTarget;
    kit::View* m_touchRoot { nullptr };
    kit::Point m_touchStart;
    float m_offsetAtStart { 0 };
    bool m_scrolling { false };
    std::set<ViewPeer*> m_animating;
    QTimer m_frameTimer;
};

} // namespace qtshell
