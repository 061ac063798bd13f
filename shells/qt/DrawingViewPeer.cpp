// Views that draw themselves: their drawing through kit's context on the
// peer's painter, then their layers. While a layer animates, the peer
// repaints each frame. (Transitions, such as the ad view's flip between
// banners, are every peer's: PeerEffect.)
#include "shells/qt/PeerRegistry.h"
#include "shells/qt/QtGraphicsContext.h"

#include "kit/ui/DrawingView.h"
#include "kit/core/RunLoop.h"

#include <QTimer>

#include <cmath>

namespace qtshell {
namespace {

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
        m_frames.stop();
    }

    void paintContent(QPainter& painter) override
    {
        auto* view = viewAs<kit::DrawingView>();
        double now = kit::RunLoop::main().now();
        render(*view, now);
        painter.drawImage(QPointF(0, 0), m_picture);
        bool moving = view->layer().isAnimating(now);
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

    QTimer m_frames;
    QImage m_picture;
};

} // namespace

void addDrawingViewPeers()
{
    PeerRegistry::add<kit::DrawingView, DrawingViewPeer>();
}

} // namespace qtshell
