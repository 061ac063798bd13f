#include "kit/Geometry.h"

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

std::string Rect::toString() const
{
    return "(" + num(origin.x) + "," + num(origin.y) + "," + num(size.width) + "," + num(size.height) + ")";
}

std::string Color::toString() const
{
    return "rgba(" + num(red) + "," + num(green) + "," + num(blue) + "," + num(alpha) + ")";
}

} // namespace kit
