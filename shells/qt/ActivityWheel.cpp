#include "shells/qt/ActivityWheel.h"

#include <QPen>

#include <cmath>
#include <numbers>

namespace qtshell {

void ActivityWheel::draw(QPainter& painter, QPointF centre, int step) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 12; ++i) {
        double angle = i * std::numbers::pi / 6;
        int age = (step - i + 12) % 12;
        QColor c = colour;
        c.setAlphaF(colour.alphaF() * (1.0 - age * 0.07));
        painter.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap));
        QPointF dir(std::sin(angle), -std::cos(angle));
        painter.drawLine(centre + dir * inner, centre + dir * outer);
    }
    painter.restore();
}

} // namespace qtshell
