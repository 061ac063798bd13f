// Views that draw themselves: their drawing through kit's context on the
// peer's painter, then their layers. While a layer animates, the peer
// repaints each frame.
#include "shells/qt/PeerRegistry.h"
#include "shells/qt/QtGraphicsContext.h"

#include "kit/DrawingView.h"
#include "kit/RunLoop.h"

#include <QTimer>

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
    void paintContent(QPainter& painter) override
    {
        auto* view = viewAs<kit::DrawingView>();
        {
            QtGraphicsContext context(painter);
            view->drawRect(context, view->bounds());
        }
        double now = kit::RunLoop::main().now();
        auto& layer = view->layer();
        painter.save();
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        QtGraphicsContext::drawSublayers(painter, layer, now);
        painter.restore();
        if (layer.isAnimating(now)) {
            if (!m_frames.isActive())
                m_frames.start();
        } else {
            m_frames.stop();
        }
    }

private:
    QTimer m_frames;
};

QUORVANE_PEER(kit::DrawingView, DrawingViewPeer)

} // namespace
} // namespace qtshell
