#pragma once
// The shown tree: one peer widget per kit view under a root view (the
// window), kept in step with the model through kit's view observer: each
// insertion, removal or property change touches only the peer it names. It
// forwards touches to the kit window at window points (the window routes
// them, whatever widget got the mouse or the finger), shows the pressed
// view, and drives the display of running view animations.
//
// A touch screen's fingers come as Qt's touch events to the root peers (only
// they accept them, so Qt's implicit grab holds the finger on a widget that
// lives as long as the touch, whatever rows scroll away under it). The first
// finger is the touch; fingers added while it is down are taken and ignored,
// so that neither they nor a mouse Qt would make of them act. A finger that
// lands on a Qt widget a peer hosts (a line edit, a text view) is left to
// Qt, which gives it to that widget as a mouse.
#include "kit/core/Token.h"
#include "shells/qt/ViewPeer.h"

#include <QObject>
#include <QPointingDevice>
#include <QPointer>
#include <QTimer>

#include <functional>

#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

class QTouchEvent;

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
    // A screen has come over the others in the window (a presented screen):
    // its peer, once built.
    std::function<void(ViewPeer&)> onScreenInFront;
    size_t peerCount() const { return m_peers.size(); }

    // kit::ViewObserver
    void viewChanged(kit::View& view, kit::ViewProperty property) override;
    void viewDestroyed(kit::View& view) override;
    void subviewInserted(kit::View& parent, kit::View& child, size_t index) override;
    void subviewRemoved(kit::View& parent, kit::View& child, size_t index) override;
    void transitionWillBegin(kit::View& view) override;

    // Touches, from the peer that got the mouse, at global screen positions
    // (a peer that scrolls under the finger would skew its own coordinates).
    void touchBegan(ViewPeer& from, QPointF globalPosition);
    void touchMoved(ViewPeer& from, QPointF globalPosition);
    void touchEnded(ViewPeer& from, QPointF globalPosition);
    void touchCancelled();
    // A touch screen's event at a root peer; false when the scene leaves it
    // to Qt (see above).
    bool touchEvent(ViewPeer& root, QTouchEvent& event);
    // A finger of a touch screen is down: the mouse, which the system may
    // make of it too, is ignored meanwhile.
    bool isFingerDown() const { return m_finger.has_value(); }
    // The mouse wheel over a peer scrolls the table it lies in.
    void scroll(ViewPeer& from, QPoint angleDelta);

    // Animations: peers whose view animates are redrawn each frame until the
    // animation's end; animationFrame() is one such frame (tests call it).
    // While the host is hidden (the window closed) no frame is drawn; shown
    // again, the peers take up where their animations are by then.
    void watchAnimation(ViewPeer& peer);
    void animationFrame();
    bool isAnimating() const { return !m_animating.empty(); }
    bool isDrawingFrames() const { return m_frameTimer.isActive(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Frames run while something animates and the host can be seen.
    void updateFrames();
    ViewPeer* build(kit::View& view, QWidget* parent);
    void drop(ViewPeer* peer);
    struct Root {
        kit::View* view;
        ViewPeer* peer;
    };
    // The shown tree a peer belongs to.
    Root rootOf(ViewPeer& from) const;
    kit::Point toRoot(ViewPeer* rootPeer, QPointF globalPosition) const;
    kit::Window* window() const;
    // Shows the window's pressed view pressed, and no other.
    void showPressed();
    // The touch's root lets go of the mouse.
    void releaseTouch();
    void beginTouch(ViewPeer& from, QPointF globalPosition, bool grabMouse);
    // Marks root as a peer that takes a touch screen's fingers.
    static void acceptFingers(ViewPeer& root);

    kit::View* m_rootView;
    QPointer<QWidget> m_host;
    ViewPeer* m_root { nullptr };
    std::unordered_map<const kit::View*, ViewPeer*> m_peers;
    std::vector<Root> m_extraRoots;
    // The root whose peer the touch began in, and the view shown pressed.
    QPointer<ViewPeer> m_touchRootPeer;
    std::weak_ptr<kit::View> m_pressed;
    // The finger that is the touch, and the root peer Qt gives its moves to.
    struct Finger {
        const QPointingDevice* device;
        int id;
    };
    std::optional<Finger> m_finger;
    QPointer<ViewPeer> m_fingerRoot;
    std::set<ViewPeer*> m_animating;
    QTimer m_frameTimer;
    // The view tree is observed while this lives.
    kit::Token m_observing;
};

} // namespace qtshell
