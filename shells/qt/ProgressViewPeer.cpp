// The progress bar: a rounded grey track, filled in blue from the left.
#include "shells/qt/PeerRegistry.h"

#include "kit/ui/ProgressView.h"

#include <QPainter>
#include <QPainterPath>

namespace qtshell {
namespace {

class ProgressViewPeer : public ViewPeer {
public:
    ProgressViewPeer(kit::ProgressView& view, Scene& scene) : ViewPeer(view, scene) { }

protected:
    void paintContent(QPainter& painter) override
    {
        auto* bar = viewAs<kit::ProgressView>();
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = track.height() / 2;
        QPainterPath outline;
        outline.addRoundedRect(track, radius, radius);
        painter.fillPath(outline, QColor(0xd9, 0xdc, 0xe1));
        const qreal filled = track.width() * bar->progress();
        if (filled > 0) {
            painter.save();
            painter.setClipRect(QRectF(track.left(), track.top(), filled, track.height()));
            painter.fillPath(outline, QColor(0x2f, 0x6f, 0xdc));
            painter.restore();
        }
        painter.setPen(QPen(QColor(0x8e, 0x95, 0xa0), 1));
        painter.drawPath(outline);
    }
};

} // namespace

void addProgressViewPeers()
{
    PeerRegistry::add<kit::ProgressView, ProgressViewPeer>();
}

} // namespace qtshell
