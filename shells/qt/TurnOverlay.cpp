#include "shells/qt/TurnOverlay.h"

#include "shells/qt/PeerAccessible.h"
#include "shells/qt/ViewPeer.h"

#include "kit/core/RunLoop.h"
#include "kit/ui/ViewAnimation.h"

#include <QPainter>

namespace qtshell {

TurnOverlay::TurnOverlay(ViewPeer& peer, QPixmap outgoing, QPixmap incoming)
    : QWidget(peer.parentWidget())
    , m_peer(&peer)
    , m_outgoing(std::move(outgoing))
    , m_incoming(std::move(incoming))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // A picture of the view while it turns: no object for a screen reader.
    markPassThrough(*this);
    setAttribute(Qt::WA_NoSystemBackground);
    place();
    show();
}

QTransform TurnOverlay::toQTransform(const kit::Transform3D& t)
{
    // Both are row-vector forms; a point of the plane z = 0 meets only
    // columns 1, 2 and 4 of rows 1, 2 and 4.
    const float* m = t.m;
    return QTransform(m[0], m[1], m[3], m[4], m[5], m[7], m[12], m[13], m[15]);
}

std::optional<kit::FlipFrame> TurnOverlay::turnOf(const ViewPeer& peer)
{
    auto* view = peer.view();
    if (!view)
        return std::nullopt;
    auto* transition = dynamic_cast<kit::TransitionAnimation*>(view->animationForKey(kit::ViewAnimation::transitionKey));
    double now = kit::RunLoop::main().now();
    if (!transition || now >= transition->beginTime + transition->duration)
        return std::nullopt;
    double t = kit::applyTimingCurve(transition->curve, transition->progressAt(now - transition->beginTime));
    return kit::flipFrame(transition->transition, t, { float(peer.width()), float(peer.height()) });
}

void TurnOverlay::place()
{
    if (!m_peer)
        return;
    // The near edge grows in perspective: leave it room.
    QRect r = m_peer->geometry();
    setGeometry(r.adjusted(-r.width() / 4, -r.height() / 2, r.width() / 4, r.height() / 2));
    // Just above the peer: under whatever sibling was stacked over it.
    auto siblings = parentWidget()->children();
    auto at = siblings.indexOf(m_peer.data());
    for (auto i = at + 1; at >= 0 && i < siblings.size(); ++i)
        if (auto* w = qobject_cast<QWidget*>(siblings[i]); w && w != this) {
            stackUnder(w);
            return;
        }
    raise();
}

void TurnOverlay::paintEvent(QPaintEvent*)
{
    if (!m_peer)
        return;
    auto turn = turnOf(*m_peer);
    if (!turn)
        return;
    const QPixmap& picture = turn->showsNewPicture ? m_incoming : m_outgoing;
    QPainter painter(this);
    painter.setRenderHints(QPainter::SmoothPixmapTransform | QPainter::Antialiasing);
    painter.translate(m_peer->geometry().topLeft() - geometry().topLeft());
    painter.setTransform(toQTransform(turn->transform), true);
    painter.drawPixmap(QPointF(0, 0), picture);
}

} // namespace qtshell
