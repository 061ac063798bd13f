#include "kit/gfx/Path.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kit {

void Path::moveTo(Point point)
{
    m_elements.push_back({ Element::MoveTo, point, {}, 0, 0, 0 });
    m_current = point;
}

void Path::lineTo(Point point)
{
    if (!m_current) {
        moveTo(point);
        return;
    }
    m_elements.push_back({ Element::LineTo, point, {}, 0, 0, 0 });
    m_current = point;
}

void Path::addArcToPoint(Point corner, Point toward, float radius)
{
    if (!m_current) {
        moveTo(corner);
        return;
    }
    Point from = *m_current;
    double ax = from.x - corner.x, ay = from.y - corner.y;
    double bx = toward.x - corner.x, by = toward.y - corner.y;
    double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
    double cross = ax * by - ay * bx;
    // Degenerate corners (a zero radius, a point on the corner, a straight
    // line) give just the line to the corner.
    if (radius <= 0 || la == 0 || lb == 0 || std::abs(cross) < 1e-9 * la * lb) {
        lineTo(corner);
        return;
    }
    ax /= la, ay /= la, bx /= lb, by /= lb;
    double cosTheta = std::clamp(ax * bx + ay * by, -1.0, 1.0);
    double theta = std::acos(cosTheta); // angle between the two legs
    double tangent = radius / std::tan(theta / 2);
    Point t1 { float(corner.x + ax * tangent), float(corner.y + ay * tangent) };
    Point t2 { float(corner.x + bx * tangent), float(corner.y + by * tangent) };
    double mx = ax + bx, my = ay + by, lm = std::hypot(mx, my);
    double toCentre = radius / std::sin(theta / 2);
    Point centre { float(corner.x + mx / lm * toCentre), float(corner.y + my / lm * toCentre) };
    double a1 = std::atan2(t1.y - centre.y, t1.x - centre.x);
    double a2 = std::atan2(t2.y - centre.y, t2.x - centre.x);
    double sweep = a2 - a1;
    while (sweep > std::numbers::pi)
        sweep -= 2 * std::numbers::pi;
    while (sweep <= -std::numbers::pi)
        sweep += 2 * std::numbers::pi;
    lineTo(t1);
    m_elements.push_back({ Element::Arc, {}, centre, radius, float(a1), float(sweep) });
    m_current = t2;
}

void Path::addArc(Point centre, float radius, float startAngle, float endAngle)
{
    double sweep = double(endAngle) - startAngle;
    // Growing angle: a sweep is never negative; a full turn stays one.
    if (sweep < 0)
        sweep = std::fmod(sweep, 2 * std::numbers::pi) + 2 * std::numbers::pi;
    Point start { float(centre.x + radius * std::cos(startAngle)), float(centre.y + radius * std::sin(startAngle)) };
    if (m_current)
        lineTo(start);
    else
        moveTo(start);
    m_elements.push_back({ Element::Arc, {}, centre, radius, startAngle, float(sweep) });
    m_current = Point { float(centre.x + radius * std::cos(startAngle + sweep)), float(centre.y + radius * std::sin(startAngle + sweep)) };
}

void Path::clear()
{
    m_elements.clear();
    m_current.reset();
}

} // namespace kit
