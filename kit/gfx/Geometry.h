#pragma once
// Points, sizes and rectangles in float points, as the handheld keeps them;
// only a shell rounds them, for display.
#include <string>

namespace kit {

// The shortest text that reads back as the same float ("0" also for -0).
std::string formatFloat(float value);

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

// An affine transform in row-vector form: (x, y) becomes
// (a·x + c·y + tx, b·x + d·y + ty). A view's transform acts about its centre.
struct Transform {
    float a { 1 }, b { 0 }, c { 0 }, d { 1 }, tx { 0 }, ty { 0 };
    static Transform identity() { return {}; }
    static Transform translation(float x, float y) { return { 1, 0, 0, 1, x, y }; }
    static Transform scale(float sx, float sy) { return { sx, 0, 0, sy, 0, 0 }; }
    static Transform rotation(float radians);
    bool isIdentity() const { return *this == Transform {}; }
    Point apply(Point p) const { return { a * p.x + c * p.y + tx, b * p.x + d * p.y + ty }; }
    // This transform, then `next`.
    Transform concat(const Transform& next) const;
    // nullopt-free: a transform that cannot be undone (a zero scale) gives the
    // identity, and callers treat such a view as one that nothing can reach.
    bool isInvertible() const { return a * d - b * c != 0; }
    Transform inverted() const;
    bool operator==(const Transform&) const = default;
};

// A 4 × 4 transform in row-vector form (the handheld's layout: m41, m42, m43
// translate; m34 gives perspective). m[i] is row i / 4, column i % 4.
struct Transform3D {
    float m[16] { 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1 };
    static Transform3D identity() { return {}; }
    static Transform3D scale(float sx, float sy, float sz);
    static Transform3D translation(float tx, float ty, float tz);
    // About the axis (x, y, z) through the origin; positive turns the x axis
    // towards the y axis when the axis is z.
    static Transform3D rotation(float radians, float x, float y, float z);
    // Seen from `distance` points in front of the plane z = 0 (m34 = -1/distance).
    static Transform3D perspective(float distance);
    bool isIdentity() const { return *this == Transform3D {}; }
    float scaleX() const { return m[0]; }
    float scaleY() const { return m[5]; }
    // This transform, then `next`.
    Transform3D concat(const Transform3D& next) const;
    // A point of the plane z = 0, projected back onto it.
    Point apply(Point p) const;
    bool operator==(const Transform3D&) const = default;
    std::string toString() const;
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
