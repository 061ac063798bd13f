#pragma once
// A peer is the Qt widget that shows one kit view. The scene keeps one peer
// per view of the shown tree, with the same parent and the same stacking
// order, and tells the peer of every change of its view. A peer draws from
// the model and keeps no state of its own that the model does not have.
//
// Adding a peer for a new kit view class is one small class: derive from
// ViewPeer, override contentChanged() and paintContent() (or host a Qt widget
// as a child), add it in a function of its .cpp and call that function from
// the registry's list (PeerRegistry.h). See docs/qt-peers.md.
#include "kit/ui/View.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QGraphicsOpacityEffect;

namespace qtshell {

class Scene;
class TurnOverlay;

class ViewPeer : public QWidget {
public:
    ViewPeer(kit::View& view, Scene& scene);
    ~ViewPeer() override;

    // Null once the view has gone or the peer has left the shown tree.
    kit::View* view() const { return m_view; }
    template<typename T>
    T* viewAs() const { return static_cast<T*>(m_view); }
    Scene& scene() const { return m_scene; }

    // Called by the scene.
    void propertyChanged(kit::ViewProperty property);
    void applyAll();
    // Shows the animated values at the run loop's time; false once no
    // animation of this view runs any more (the model's values are shown).
    bool applyPresentation();
    void detach();
    // A transition of the view is being set up: keep what is shown now.
    void takeOutgoingPicture();
    // The button-like highlight while a touch is down on this view.
    void setTouched(bool touched);
    bool isTouched() const { return m_touched; }
    // What a tap does, from the keyboard (Space, Return) or a screen reader:
    // a button's action, a row's selection, the banner's opening. False for
    // a view that a tap does nothing to.
    bool activate();
    // The Qt widget this peer hosts that speaks for the view to a screen
    // reader (a field's line edit), or null: the peer speaks itself.
    virtual QWidget* speakingWidget() const { return nullptr; }

    // Helpers for subclasses.
    static QColor toQColor(const kit::Color& color);
    static QFont toQFont(const kit::Font& font);

protected:
    // Text, title, image: whatever the view class adds. The default repaints.
    virtual void contentChanged() { update(); }
    // Draws what the view class adds, over the background colour.
    virtual void paintContent(QPainter&) { }
    // Peers hosting a Qt widget give it their whole rectangle here.
    virtual void layoutContent() { }

    bool event(QEvent*) override;
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    // Touches (a touch screen's fingers, and the mouse) go to the scene,
    // which finds the kit view that takes them.
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void focusInEvent(QFocusEvent*) override;
    void focusOutEvent(QFocusEvent*) override;

private:
    void applyFocusPolicy();
    void applyGeometry();
    void applyVisibility();
    void applyBackground();
    // Starts, follows or ends the display of a transition; true while one runs.
    bool applyTurn();
    void endTurn();

    kit::View* m_view;
    Scene& m_scene;
    QColor m_background;
    QGraphicsOpacityEffect* m_opacity { nullptr };
    bool m_touched { false };
    QPixmap m_outgoing;
    QPointer<TurnOverlay> m_overlay;
};

} // namespace qtshell
