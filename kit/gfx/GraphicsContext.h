#pragma once
// The drawing context that a view which draws itself is given. Coordinates
// are float points with the y axis down; angles are radians from +x towards
// +y. The context keeps a current path (move-to, tangent arcs, arcs), which
// clip() and strokePath() consume. saveGState()/restoreGState() keep the
// fill and stroke colours, the line width and the clip.
//
// Two backends: RecordingContext keeps the operations with their float
// values (tests, the headless shell); the Qt shell's backend paints them.
#include "kit/gfx/Geometry.h"

#include <string>

namespace kit {

class Image;

class GraphicsContext {
public:
    virtual ~GraphicsContext();

    virtual void saveGState() = 0;
    virtual void restoreGState() = 0;

    virtual void setFillColor(const Color& color) = 0;
    virtual void fillRect(const Rect& rect) = 0;
    // A two-colour gradient (start colour at location 0, end colour at 1),
    // drawn along the line from `from` to `to` and extended beyond `to`
    // but not before `from`.
    virtual void drawLinearGradient(const Color& startColor, const Color& endColor, Point from, Point to) = 0;

    virtual void beginPath() = 0;
    virtual void moveTo(Point point) = 0;
    // A line from the current point towards `corner`, then an arc of the
    // radius tangent to the lines current→corner and corner→toward.
    virtual void addArcToPoint(Point corner, Point toward, float radius) = 0;
    // An arc of the circle, with growing angle; a line joins it to the
    // current point, if any.
    virtual void addArc(Point centre, float radius, float startAngle, float endAngle) = 0;
    virtual void clip() = 0;

    virtual void setLineWidth(float width) = 0;
    virtual void setStrokeColor(const Color& color) = 0;
    virtual void strokePath() = 0;

    // The image in its natural size with its top-left corner at the point.
    virtual void drawImage(const Image& image, Point point) = 0;
    // The text laid out (word-wrapped) in the rectangle, in the fill colour.
    virtual void drawText(const std::string& text, const Rect& rect, const Font& font) = 0;
};

// Colours as the drawing code asks for them.
inline Color colorWithWhite(float white, float alpha) { return { white, white, white, alpha }; }
inline Color colorWithAlpha(Color color, float alpha)
{
    color.alpha = alpha;
    return color;
}

} // namespace kit
