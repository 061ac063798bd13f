// Views that draw themselves: their drawing through kit's context on the
// peer's painter, then their layers. While a layer animates, the peer
// repaints each frame.
//
// A view that comes into a container during a flip transition (the ad view
// swapping banners) turns in: for the first half of the transition the
// picture of the view that left is shown turning away about the vertical
// axis, for the second half the new view turns in. A peer keeps its last
// picture for this, and hands it to its container's next drawing peer when
// its view leaves.
#include "shells/qt/PeerRegistry.h"
#include "shells/qt/QtGraphicsContext.h"

#include "kit/DrawingView.h"
#include "kit/RunLoop.h"
#include "kit/ViewAnimation.h"

#include <QPointer>
#include <QTimer>

#include <cmath>
#include <map>
#include <optional>

namespace qtshell {
namespace {

// The last picture of a drawing peer whose view left a container, by the
// container's peer.
std::map<const QWidget*, QImage>& leftPictures()
{
    static std::map<const QWidget*, QImage> pictures;
    return pictures;
}

class DrawingViewPeer : public ViewPeer {
public:
    DrawingViewPeer(kit::DrawingView& view, Scene& scene)
        : ViewPeer(view, scene)
    {
        m_frames.setInterval(16);
        m_frames.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_frames, &QTimer::timeout, this, [this] { update(); });
    }

protected:
    void hideEvent(QHideEvent* event) override
    {
        ViewPeer::hideEvent(event);
        // Dropped from the shown tree: the next banner may flip in over us.
        if (!view() && parentWidget() && !m_picture.isNull())
            leftPictures()[parentWidget()] = m_picture;
        m_frames.stop();
    }

    void paintContent(QPainter& painter) override
    {
        auto* view = viewAs<kit::DrawingView>();
        double now = kit::RunLoop::main().now();
        render(*view, now);
        auto flip = flipOf(*view, now);
        if (!flip) {
            painter.drawImage(QPointF(0, 0), m_picture);
        } else {
            // First half: the old picture turns away; second half: ours turns in.
            double f = std::clamp((now - flip->start) / std::max(flip->duration, 1e-6), 0.0, 1.0);
            const QImage& shown = f < 0.5 ? m_outgoing : m_picture;
            double turnsTo = flip->transition == kit::AnimationTransition::FlipFromRight ? -1.0 : 1.0;
            double angle = turnsTo * (f < 0.5 ? 180.0 * f : 180.0 * (f - 1.0));
            QTransform turn;
            turn.translate(width() / 2.0, height() / 2.0);
            turn.rotate(angle, Qt::YAxis);
            turn.translate(-width() / 2.0, -height() / 2.0);
            painter.save();
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.setTransform(turn, true);
            if (!shown.isNull())
                painter.drawImage(QPointF(0, 0), shown);
            painter.restore();
        }
        bool moving = view->layer().isAnimating(now) || flip;
        if (moving && !m_frames.isActive())
            m_frames.start();
        else if (!moving)
            m_frames.stop();
    }

private:
    // The view's drawing and layers, kept as this peer's last picture.
    void render(kit::DrawingView& view, double now)
    {
        qreal ratio = devicePixelRatioF();
        QSize pixels(int(std::ceil(width() * ratio)), int(std::ceil(height() * ratio)));
        if (m_picture.size() != pixels) {
            m_picture = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
            m_picture.setDevicePixelRatio(ratio);
        }
        m_picture.fill(Qt::transparent);
        QPainter painter(&m_picture);
        {
            QtGraphicsContext context(painter);
            view.drawRect(context, view.bounds());
        }
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        QtGraphicsContext::drawSublayers(painter, view.layer(), now);
    }

    // The flip running on this view's container, if any; the first time it
    // is seen, the picture of the view that left is taken over.
    std::optional<kit::TransitionAnimation> flipOf(kit::DrawingView& view, double now)
    {
        auto* container = view.superview();
        if (!container)
            return std::nullopt;
        for (auto& t : kit::ViewAnimation::activeTransitions()) {
            if (t.view.lock().get() != container || now >= t.start + t.duration)
                continue;
            if (t.transition != kit::AnimationTransition::FlipFromRight && t.transition != kit::AnimationTransition::FlipFromLeft)
                continue;
            if (m_flipStart != t.start) {
                m_flipStart = t.start;
                auto& pictures = leftPictures();
                auto it = pictures.find(parentWidget());
                m_outgoing = it != pictures.end() ? it->second : QImage();
                if (it != pictures.end())
                    pictures.erase(it);
            }
            return t;
        }
        m_outgoing = QImage();
        return std::nullopt;
    }

    QTimer m_frames;
    QImage m_picture;
    QImage m_outgoing;
    double m_flipStart { -1 };
};

} // namespace

void addDrawingViewPeers()
{
    PeerRegistry::add<kit::DrawingView, DrawingViewPeer>();
}

} // namespace qtshell
