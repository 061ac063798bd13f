// The handheld's rounded-rectangle push button: white with a grey rim and a
// bold title; blue while a finger is on it; greyed out when disabled. Taps
// reach kit through the scene's touch routing (Button::touchesEnded).
#include "shells/qt/PeerRegistry.h"

#include "kit/ui/Button.h"

#include <QPainter>
#include <QPainterPath>

namespace qtshell {
namespace {

class ButtonPeer : public ViewPeer {
public:
    ButtonPeer(kit::Button& button, Scene& scene) : ViewPeer(button, scene) { setCursor(Qt::PointingHandCursor); }

protected:
    void paintContent(QPainter& painter) override
    {
        auto* button = viewAs<kit::Button>();
        painter.setRenderHint(QPainter::Antialiasing);
        QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(box, 9, 9);
        const bool pressed = isTouched() && button->isEnabled();
        if (pressed) {
            QLinearGradient g(box.topLeft(), box.bottomLeft());
            g.setColorAt(0, QColor(0x4a, 0x8b, 0xf5));
            g.setColorAt(1, QColor(0x1a, 0x5c, 0xd8));
            painter.fillPath(path, g);
        } else {
            painter.fillPath(path, Qt::white);
        }
        painter.setPen(QPen(QColor(0x8e, 0x95, 0xa0), 1));
        painter.drawPath(path);
        QFont font = toQFont(kit::Font::boldSystemFont(15));
        painter.setFont(font);
        QColor title = pressed ? QColor(Qt::white) : toQColor(button->titleColor());
        if (!button->isEnabled())
            title = QColor(0xa0, 0xa4, 0xaa);
        painter.setPen(title);
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, QString::fromStdString(button->title()));
    }
};

} // namespace

void addButtonPeers()
{
    PeerRegistry::add<kit::Button, ButtonPeer>();
}

} // namespace qtshell
