#pragma once
// A path made of lines and circular arcs, as GraphicsContext builds it.
// Tangent arcs are resolved into a line and an arc when they are added, so
// a backend only draws lines and arcs.
#include "kit/gfx/Geometry.h"

#include <optional>
#include <vector>

namespace kit {

class Path {
public:
    struct Element {
        enum Kind { MoveTo, LineTo, Arc } kind;
        Point point;           // MoveTo, LineTo
        Point centre;          // Arc
        float radius { 0 };    // Arc
        float startAngle { 0 }; // Arc, radians, y down
        float sweep { 0 };      // Arc: signed, positive towards growing angle
    };

    void moveTo(Point point);
    void lineTo(Point point);
    void addArcToPoint(Point corner, Point toward, float radius);
    void addArc(Point centre, float radius, float startAngle, float endAngle);
    void clear();

    const std::vector<Element>& elements() const { return m_elements; }
    bool isEmpty() const { return m_elements.empty(); }
    std::optional<Point> currentPoint() const { return m_current; }

private:
    std::vector<Element> m_elements;
    std::optional<Point> m_current;
};

} // namespace kit
