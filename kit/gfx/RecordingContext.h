#pragma once
// The recording drawing backend: every operation with its float values, in
// order. Tests assert on it; the headless shell prints it, one per line:
//
//     fillRect 0 0 320 48
//     drawText 51 16 160 16 13 "Helvetica-Bold" "Try the ad"
//
// Floats are printed in their shortest exact form; colours as r g b a.
#include "kit/gfx/GraphicsContext.h"

#include <string>
#include <vector>

namespace kit {

struct DrawOperation {
    std::string name;
    std::vector<float> values;
    std::vector<std::string> strings;
    std::string toString() const;
};

class RecordingContext : public GraphicsContext {
public:
    const std::vector<DrawOperation>& operations() const { return m_operations; }
    // Every operation, one per line.
    std::string toString() const;
    void clear() { m_operations.clear(); }

    void saveGState() override { record("saveGState", {}); }
    void restoreGState() override { record("restoreGState", {}); }
    void setFillColor(const Color& c) override { record("setFillColor", { c.red, c.green, c.blue, c.alpha }); }
    void fillRect(const Rect& r) override { record("fillRect", { r.x(), r.y(), r.width(), r.height() }); }
    void drawLinearGradient(const Color& s, const Color& e, Point from, Point to) override
    {
        record("drawLinearGradient", { s.red, s.green, s.blue, s.alpha, e.red, e.green, e.blue, e.alpha, from.x, from.y, to.x, to.y });
    }
    void beginPath() override { record("beginPath", {}); }
    void moveTo(Point p) override { record("moveTo", { p.x, p.y }); }
    void addArcToPoint(Point corner, Point toward, float radius) override
    {
        record("addArcToPoint", { corner.x, corner.y, toward.x, toward.y, radius });
    }
    void addArc(Point centre, float radius, float startAngle, float endAngle) override
    {
        record("addArc", { centre.x, centre.y, radius, startAngle, endAngle });
    }
    void clip() override { record("clip", {}); }
    void setLineWidth(float width) override { record("setLineWidth", { width }); }
    void setStrokeColor(const Color& c) override { record("setStrokeColor", { c.red, c.green, c.blue, c.alpha }); }
    void strokePath() override { record("strokePath", {}); }
    void drawImage(const Image& image, Point point) override;
    void drawText(const std::string& text, const Rect& r, const Font& font) override
    {
        record("drawText", { r.x(), r.y(), r.width(), r.height(), font.size }, { font.name, text });
    }

private:
    void record(const char* name, std::vector<float> values, std::vector<std::string> strings = {})
    {
        m_operations.push_back({ name, std::move(values), std::move(strings) });
    }

    std::vector<DrawOperation> m_operations;
};

} // namespace kit
