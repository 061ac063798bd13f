#include "shells/qt/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace qtshell {

namespace {
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, QColor(0x3d, 0x9b, 0xff));
    g.setColorAt(1, QColor(0x14, 0x4f, 0xc7));
    QPainterPath square;
    square.addRoundedRect(QRectF(2, 2, 60, 60), 13, 13);
    p.fillPath(square, g);
    QPainterPath arrow;
    arrow.moveTo(26, 12);
    arrow.lineTo(38, 12);
    arrow.lineTo(38, 30);
    arrow.lineTo(47, 30);
    arrow.lineTo(32, 45);
    arrow.lineTo(17, 30);
    arrow.lineTo(26, 30);
    arrow.closeSubpath();
    p.fillPath(arrow, Qt::white);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(17 + i * 10, 52), 3.2, 3.2);
    return pixmap;
}
} // namespace

QIcon appIcon()
{
    // Drawn once: the application and its window each ask for it before the
    // window appears. Kept for the process's life (a pixmap must not outlive
    // the application object, which a plain static would).
    static const QIcon* icon = [] {
        auto* drawn = new QIcon;
        for (int size : { 16, 22, 32, 48, 64, 128, 256 })
            drawn->addPixmap(drawIcon(size));
        return drawn;
    }();
    return *icon;
}

} // namespace qtshell
