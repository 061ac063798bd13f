#include "kit/gfx/Geometry.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kit {

namespace {
std::string num(float v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", double(v));
    return buf;
}
} // namespace

std::string formatFloat(float value)
{
    if (value == 0)
        return "0"; // also for -0
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string Rect::toString() const
{
    return "(" + num(origin.x) + "," + num(origin.y) + "," + num(size.width) + "," + num(size.height) + ")";
}

Transform Transform::rotation(float radians)
{
    float c = std::cos(radians), s = std::sin(radians);
    return { c, s, -s, c, 0, 0 };
}

Transform Transform::concat(const Transform& n) const
{
    return { a * n.a + b * n.c, a * n.b + b * n.d, c * n.a + d * n.c, c * n.b + d * n.d, tx * n.a + ty * n.c + n.tx, tx * n.b + ty * n.d + n.ty };
}

Transform Transform::inverted() const
{
    float det = a * d - b * c;
    if (det == 0)
        return {};
    return { d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det };
}

Transform3D Transform3D::scale(float sx, float sy, float sz)
{
    Transform3D t;
    t.m[0] = sx;
    t.m[5] = sy;
    t.m[10] = sz;
    return t;
}

Transform3D Transform3D::translation(float tx, float ty, float tz)
{
    Transform3D t;
    t.m[12] = tx;
    t.m[13] = ty;
    t.m[14] = tz;
    return t;
}

Transform3D Transform3D::rotation(float radians, float x, float y, float z)
{
    float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0)
        return {};
    x /= length;
    y /= length;
    z /= length;
    float c = std::cos(radians), s = std::sin(radians), k = 1 - c;
    Transform3D t;
    // Row-vector form: the transpose of the usual column-vector rotation.
    t.m[0] = x * x * k + c;
    t.m[1] = x * y * k + z * s;
    t.m[2] = x * z * k - y * s;
    t.m[4] = y * x * k - z * s;
    t.m[5] = y * y * k + c;
    t.m[6] = y * z * k + x * s;
    t.m[8] = z * x * k + y * s;
    t.m[9] = z * y * k - x * s;
    t.m[10] = z * z * k + c;
    return t;
}

Transform3D Transform3D::perspective(float distance)
{
    Transform3D t;
    if (distance != 0)
        t.m[11] = -1 / distance;
    return t;
}

Transform3D Transform3D::concat(const Transform3D& n) const
{
    Transform3D out;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += m[row * 4 + k] * n.m[k * 4 + col];
            out.m[row * 4 + col] = sum;
        }
    return out;
}

Point Transform3D::apply(Point p) const
{
    float x = p.x * m[0] + p.y * m[4] + m[12];
    float y = p.x * m[1] + p.y * m[5] + m[13];
    float w = p.x * m[3] + p.y * m[7] + m[15];
    if (w == 0)
        return { x, y };
    return { x / w, y / w };
}

std::string Transform3D::toString() const
{
    if (isIdentity())
        return "identity";
    bool scaleOnly = true;
    for (int i = 0; i < 16; ++i)
        if (i != 0 && i != 5 && i != 10 && m[i] != (i == 15 ? 1.0f : 0.0f))
            scaleOnly = false;
    if (scaleOnly)
        return "scale(" + formatFloat(m[0]) + "," + formatFloat(m[5]) + "," + formatFloat(m[10]) + ")";
    std::string out = "matrix(";
    for (int i = 0; i < 16; ++i)
        out += (i ? "," : "") + formatFloat(m[i]);
    return out + ")";
}

std::string Color::toString() const
{
    return "rgba(" + num(red) + "," + num(green) + "," + num(blue) + "," + num(alpha) + ")";
}

} // namespace kit
