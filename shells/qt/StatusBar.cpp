#include "shells/qt/StatusBar.h"

#include "shells/qt/ActivityWheel.h"
#include "shells/qt/ViewPeer.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QTime>


namespace qtshell {

StatusBar::StatusBar(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Ten steps a second look like the handheld's wheel and cost little; each
    // step repaints the wheel's own square, nothing else.
    m_spin.setInterval(100);
    connect(&m_spin, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % 12;
        update(wheelRect());
    });
    m_clock.setSingleShot(true);
    connect(&m_clock, &QTimer::timeout, this, [this] {
        update(clockRect());
        scheduleClock();
    });
}

QRect StatusBar::wheelRect() const
{
    return QRect(wheelCentreX - 8, height() / 2 - 8, 16, 16);
}

QString StatusBar::title()
{
    return QStringLiteral("Quorvane");
}

QRect StatusBar::clockRect() const
{
    return QRect(width() / 2 - 30, 0, 60, height());
}

void StatusBar::scheduleClock()
{
    // Wakes when the minute turns, not before.
    const QTime now = QTime::currentTime();
    m_clock.start((60 - now.second()) * 1000 - now.msec() + 50);
}

void StatusBar::setNetworkActivity(bool visible)
{
    if (m_activity == visible)
        return;
    m_activity = visible;
    updateSpin();
    update(wheelRect());
}

void StatusBar::updateSpin()
{
    // The wheel turns only while someone can see it.
    if (m_activity && isVisible())
        m_spin.start();
    else
        m_spin.stop();
}

void StatusBar::showEvent(QShowEvent*)
{
    updateSpin();
    scheduleClock();
    update();
}

void StatusBar::hideEvent(QHideEvent*)
{
    updateSpin();
    m_clock.stop();
}

void StatusBar::paintEvent(QPaintEvent* event)
{
    // Most repaints are the wheel's own square ten times a second: only what
    // meets the part to repaint is drawn (laying out text is the dear part).
    const QRect dirty = event->rect();
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(0x5c, 0x5f, 0x63));
    g.setColorAt(1, QColor(0x2a, 0x2c, 0x2f));
    p.fillRect(dirty, g);
    p.setRenderHint(QPainter::Antialiasing);
    const QFont font = ViewPeer::toQFont(kit::Font::boldSystemFont(12));
    if (m_titleWidth < 0)
        m_titleWidth = QFontMetrics(font).horizontalAdvance(title()) + 1;
    const QRect titleRect(6, 0, m_titleWidth, height());
    if (dirty.intersects(titleRect) || dirty.intersects(clockRect())) {
        p.setFont(font);
        p.setPen(Qt::white);
        if (dirty.intersects(titleRect))
            p.drawText(rect().adjusted(6, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, title());
        if (dirty.intersects(clockRect()))
            p.drawText(rect(), Qt::AlignCenter, QTime::currentTime().toString(QStringLiteral("HH:mm")));
    }
    // The battery, always full: a desktop has no such thing to show.
    if (dirty.intersects(QRect(width() - 31, 0, 31, height()))) {
        QRectF battery(width() - 30, 5, 22, 10);
        p.setPen(QPen(Qt::white, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(battery, 2, 2);
        p.fillRect(battery.adjusted(2, 2, -2, -2), Qt::white);
        p.fillRect(QRectF(battery.right() + 1, 8, 2, 4), Qt::white);
    }
    if (!m_activity || !dirty.intersects(wheelRect()))
        return;
    // The activity wheel: twelve spokes, the lit one turning.
    p.drawPixmap(wheelRect().topLeft(), wheelFrame(m_step));
}

const QPixmap& StatusBar::wheelFrame(int step)
{
    QPixmap& frame = m_wheelFrames[step];
    const qreal ratio = devicePixelRatioF();
    if (frame.isNull() || frame.devicePixelRatio() != ratio) {
        const QSize size = wheelRect().size();
        frame = QPixmap(size * ratio);
        frame.setDevicePixelRatio(ratio);
        frame.fill(Qt::transparent);
        QPainter p(&frame);
        p.setRenderHint(QPainter::Antialiasing);
        ActivityWheel { 3.0, 6.5, 1.6, Qt::white }.draw(p, QPointF(size.width() / 2.0, size.height() / 2.0), step);
    }
    return frame;
}

} // namespace qtshell
