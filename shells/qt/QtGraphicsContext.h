#pragma once
// kit's drawing context on a QPainter: antialiased, in float points, sharp on
// high-density screens (the painter's device carries the pixel ratio). Text
// is laid out by kit::Fonts, the same layout the headless shell records, and
// drawn as glyph runs of the same font file.
#include "kit/gfx/GraphicsContext.h"
#include "kit/gfx/Path.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>

#include <vector>

namespace kit {
class Layer;
}

namespace qtshell {

class QtGraphicsContext : public kit::GraphicsContext {
public:
    explicit QtGraphicsContext(QPainter& painter);
    ~QtGraphicsContext() override;

    void saveGState() override;
    void restoreGState() override;
    void setFillColor(const kit::Color& color) override;
    void fillRect(const kit::Rect& rect) override;
    void drawLinearGradient(const kit::Color& startColor, const kit::Color& endColor, kit::Point from, kit::Point to) override;
    void beginPath() override { m_path.clear(); }
    void moveTo(kit::Point point) override { m_path.moveTo(point); }
    void addArcToPoint(kit::Point corner, kit::Point toward, float radius) override { m_path.addArcToPoint(corner, toward, radius); }
    void addArc(kit::Point centre, float radius, float startAngle, float endAngle) override
    {
        m_path.addArc(centre, radius, startAngle, endAngle);
    }
    void clip() override;
    void setLineWidth(float width) override { m_state.lineWidth = width; }
    void setStrokeColor(const kit::Color& color) override;
    void strokePath() override;
    void drawImage(const kit::Image& image, kit::Point point) override;
    void drawText(const std::string& text, const kit::Rect& rect, const kit::Font& font) override;

    // A layer's sublayers as the display shows them at the run loop's time
    // `now`: contents scaled into the frame, transformed about its centre.
    static void drawSublayers(QPainter& painter, const kit::Layer& layer, double now);
    static QPainterPath toQPainterPath(const kit::Path& path);

private:
    struct State {
        QColor fill { Qt::black };
        QColor stroke { Qt::black };
        float lineWidth { 1 };
    };
    QPainter& m_painter;
    State m_state;
    std::vector<State> m_saved;
    kit::Path m_path;
    int m_depth { 0 };
};

} // namespace qtshell
