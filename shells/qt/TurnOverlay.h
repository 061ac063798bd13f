#pragma once
// The display of a view transition (a flip). While it runs, the peer of the
// turning view is hidden and this overlay, a sibling stacked just above it,
// shows the view's picture turned in perspective about its vertical centre
// line: for the first half the picture taken before the change turns away,
// then the picture taken at the commit (subviews included) turns in; like the
// handheld's cached transition, the view is drawn once at each end. Where the
// picture has turned away, what lies behind the view shows. The turn is read
// from the view at the run loop's time whenever the overlay paints.
#include "kit/gfx/Animation.h"

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace qtshell {

class ViewPeer;

class TurnOverlay : public QWidget {
public:
    TurnOverlay(ViewPeer& peer, QPixmap outgoing, QPixmap incoming);

    // The turn of the peer's view at the run loop's time, if one runs.
    static std::optional<kit::FlipFrame> turnOf(const ViewPeer& peer);
    static QTransform toQTransform(const kit::Transform3D& t);
    // Follows the peer's place and stacking.
    void place();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPointer<ViewPeer> m_peer;
    QPixmap m_outgoing;
    QPixmap m_incoming;
};

} // namespace qtshell
