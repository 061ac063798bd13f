#pragma once
// The handheld's activity wheel: twelve spokes round a centre, the lit one
// turning and the others fading behind it. The status bar's network wheel
// and the activity indicator views draw it.
#include <QColor>
#include <QPainter>
#include <QPointF>

namespace qtshell {

struct ActivityWheel {
    double inner;  // spokes run from this radius…
    double outer;  // …to this one
    double width;  // stroke width of a spoke
    QColor colour; // the lit spoke's colour; the others fade from it
    void draw(QPainter& painter, QPointF centre, int step) const;
};

} // namespace qtshell
