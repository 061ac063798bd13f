#pragma once
// Points, sizes and rectangles in float points, as the handheld keeps them;
// only a shell rounds them, for display.
#include <string>

namespace kit {

struct Point {
    float x { 0 }, y { 0 };
    bool operator==(const Point&) const = default;
};

struct Size {
    float width { 0 }, height { 0 };
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;
    Rect() = default;
    Rect(float x, float y, float w, float h) : origin { x, y }, size { w, h } { }
    float x() const { return origin.x; }
    float y() const { return origin.y; }
    float width() const { return size.width; }
    float height() const { return size.height; }
    float maxX() const { return origin.x + size.width; }
    float maxY() const { return origin.y + size.height; }
    bool contains(Point p) const { return p.x >= origin.x && p.y >= origin.y && p.x < maxX() && p.y < maxY(); }
    bool operator==(const Rect&) const = default;
    std::string toString() const;
};

// An affine transform; the views use translations and scales.
struct Transform {
    float a { 1 }, b { 0 }, c { 0 }, d { 1 }, tx { 0 }, ty { 0 };
    static Transform identity() { return {}; }
    static Transform translation(float x, float y) { return { 1, 0, 0, 1, x, y }; }
    static Transform scale(float sx, float sy) { return { sx, 0, 0, sy, 0, 0 }; }
    bool isIdentity() const { return *this == Transform {}; }
    bool operator==(const Transform&) const = default;
};

struct Color {
    float red { 0 }, green { 0 }, blue { 0 }, alpha { 0 };
    static Color rgba(float r, float g, float b, float a = 1) { return { r, g, b, a }; }
    static Color clear() { return { 0, 0, 0, 0 }; }
    static Color black() { return { 0, 0, 0, 1 }; }
    static Color white() { return { 1, 1, 1, 1 }; }
    static Color red_() { return { 1, 0, 0, 1 }; }
    // The platform's grouped-table background: a pale blue-grey.
    static Color groupTableViewBackground() { return { 0.773f, 0.800f, 0.831f, 1 }; }
    bool operator==(const Color&) const = default;
    std::string toString() const;
};

struct Font {
    std::string name { "Helvetica" };
    float size { 17 };
    bool bold { false };
    static Font systemFont(float size) { return { "Helvetica", size, false }; }
    static Font boldSystemFont(float size) { return { "Helvetica-Bold", size, true }; }
    bool operator==(const Font&) const = default;
};

} // namespace kit
