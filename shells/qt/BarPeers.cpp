// Toolbars, navigation bars and their items. The bars are the handheld's
// glossy strips: a blue-grey gradient by default, near black for the black
// styles, or shades of the tint colour. Items: "Done" is a bordered blue
// button with its title; Refresh, Stop and Action are white glyphs; image
// buttons show their picture, faded while disabled, and nothing when it is
// missing (the name is for the headless dump only). Taps reach kit through
// the scene's touch routing, as for any button.
#include "shells/qt/PeerRegistry.h"

#include "kit/ui/NavigationBar.h"
#include "kit/ui/Toolbar.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace qtshell {
namespace {

QColor barBase(kit::BarStyle style, const std::optional<kit::Color>& tint)
{
    if (tint)
        return ViewPeer::toQColor(*tint);
    if (style != kit::BarStyle::Default)
        return QColor(0x10, 0x10, 0x10);
    return QColor(0x6d, 0x84, 0xa2);
}

void paintBar(QPainter& painter, const QRect& rect, kit::BarStyle style, const std::optional<kit::Color>& tint)
{
    QColor base = barBase(style, tint);
    QLinearGradient g(rect.topLeft(), rect.bottomLeft());
    g.setColorAt(0, base.lighter(135));
    g.setColorAt(0.5, base.lighter(110));
    g.setColorAt(0.51, base);
    g.setColorAt(1, base.darker(110));
    painter.fillRect(rect, g);
    painter.setPen(base.darker(160));
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
}

class ToolbarPeer : public ViewPeer {
public:
    ToolbarPeer(kit::Toolbar& bar, Scene& scene) : ViewPeer(bar, scene) { }

protected:
    void paintContent(QPainter& painter) override
    {
        auto* bar = viewAs<kit::Toolbar>();
        paintBar(painter, rect(), bar->barStyle(), bar->tintColor());
    }
};

class NavigationBarPeer : public ViewPeer {
public:
    NavigationBarPeer(kit::NavigationBar& bar, Scene& scene) : ViewPeer(bar, scene) { }

protected:
    void paintContent(QPainter& painter) override
    {
        auto* bar = viewAs<kit::NavigationBar>();
        paintBar(painter, rect(), bar->barStyle(), bar->tintColor());
    }
};

class BarButtonItemViewPeer : public ViewPeer {
public:
    BarButtonItemViewPeer(kit::BarButtonItemView& view, Scene& scene) : ViewPeer(view, scene) { setCursor(Qt::PointingHandCursor); }

protected:
    void paintContent(QPainter& painter) override
    {
        auto* view = viewAs<kit::BarButtonItemView>();
        auto& item = *view->item();
        painter.setRenderHint(QPainter::Antialiasing);
        const bool enabled = item.isEnabled();
        const bool pressed = isTouched() && enabled;
        QColor ink = enabled ? QColor(Qt::white) : QColor(255, 255, 255, 90);
        if (pressed)
            painter.fillRect(rect(), QColor(255, 255, 255, 60));
        QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        if (!item.systemItem()) {
            if (auto& image = item.image()) {
                QImage picture(image->pixels().data(), image->width(), image->height(), image->width() * 4, QImage::Format_RGBA8888);
                QRectF target(0, 0, image->width(), image->height());
                target.moveCenter(box.center());
                painter.setOpacity(enabled ? 1 : 0.35);
                painter.drawImage(target, picture);
                painter.setOpacity(1);
            }
            return;
        }
        QPointF c = box.center();
        QPen pen(ink, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        switch (*item.systemItem()) {
        case kit::BarButtonSystemItem::Done: {
            QPainterPath path;
            path.addRoundedRect(box, 5, 5);
            painter.fillPath(path, pressed ? QColor(0x1a, 0x4c, 0xb8) : QColor(0x2f, 0x6b, 0xe0));
            painter.setPen(QPen(QColor(0x1a, 0x3a, 0x80), 1));
            painter.drawPath(path);
            painter.setPen(Qt::white);
            painter.setFont(toQFont(kit::Font::boldSystemFont(13)));
            painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Done"));
            break;
        }
        case kit::BarButtonSystemItem::Refresh: {
            painter.setPen(pen);
            QRectF arc(c.x() - 8, c.y() - 8, 16, 16);
            painter.drawArc(arc, 60 * 16, 300 * 16);
            QPainterPath head;
            head.moveTo(c.x() + 4, c.y() - 11);
            head.lineTo(c.x() + 9, c.y() - 6);
            head.lineTo(c.x() + 3, c.y() - 3);
            painter.fillPath(head, ink);
            break;
        }
        case kit::BarButtonSystemItem::Stop:
            painter.setPen(pen);
            painter.drawLine(QPointF(c.x() - 7, c.y() - 7), QPointF(c.x() + 7, c.y() + 7));
            painter.drawLine(QPointF(c.x() + 7, c.y() - 7), QPointF(c.x() - 7, c.y() + 7));
            break;
        case kit::BarButtonSystemItem::Action: {
            painter.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawRect(QRectF(c.x() - 9, c.y() - 4, 14, 12));
            QPainterPath arrow;
            arrow.moveTo(c.x() - 3, c.y() + 3);
            arrow.quadTo(c.x() - 2, c.y() - 7, c.x() + 6, c.y() - 7);
            painter.drawPath(arrow);
            QPainterPath head;
            head.moveTo(c.x() + 5, c.y() - 11);
            head.lineTo(c.x() + 10, c.y() - 7);
            head.lineTo(c.x() + 5, c.y() - 3);
            painter.fillPath(head, ink);
            break;
        }
        case kit::BarButtonSystemItem::FlexibleSpace:
            break;
        }
    }
};

} // namespace

void addBarPeers()
{
    PeerRegistry::add<kit::Toolbar, ToolbarPeer>();
    PeerRegistry::add<kit::NavigationBar, NavigationBarPeer>();
    PeerRegistry::add<kit::BarButtonItemView, BarButtonItemViewPeer>();
}

} // namespace qtshell
