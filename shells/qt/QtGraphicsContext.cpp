#include "shells/qt/QtGraphicsContext.h"

#include "shells/qt/TurnOverlay.h"

#include "shells/qt/ViewPeer.h"

#include "kit/gfx/Fonts.h"
#include "kit/gfx/Image.h"
#include "kit/gfx/Layer.h"

#include <QGlyphRun>
#include <QImage>
#include <QLinearGradient>
#include <QRawFont>

#include <cmath>
#include <map>
#include <numbers>

namespace qtshell {

namespace {

QImage wrap(const kit::Image& image)
{
    // Reads the model's pixels in place: no copy per frame.
    return QImage(image.pixels().data(), image.width(), image.height(), image.width() * 4, QImage::Format_RGBA8888);
}

const QRawFont& rawFont(const std::string& file, float pixelSize)
{
    static std::map<std::pair<std::string, float>, QRawFont> fonts;
    auto key = std::make_pair(file, pixelSize);
    auto it = fonts.find(key);
    if (it == fonts.end())
        it = fonts.emplace(key, QRawFont(QString::fromStdString(file), pixelSize, QFont::PreferNoHinting)).first;
    return it->second;
}

double degrees(double radians) { return radians * 180.0 / std::numbers::pi; }

} // namespace

QtGraphicsContext::QtGraphicsContext(QPainter& painter)
    : m_painter(painter)
{
    m_painter.save();
    m_painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
}

QtGraphicsContext::~QtGraphicsContext()
{
    // Unbalanced saves of the drawing code end with it.
    for (; m_depth > 0; --m_depth)
        m_painter.restore();
    m_painter.restore();
}

void QtGraphicsContext::saveGState()
{
    m_saved.push_back(m_state);
    m_painter.save();
    ++m_depth;
}

void QtGraphicsContext::restoreGState()
{
    if (m_saved.empty())
        return;
    m_state = m_saved.back();
    m_saved.pop_back();
    m_painter.restore();
    --m_depth;
}

void QtGraphicsContext::setFillColor(const kit::Color& color)
{
    m_state.fill = ViewPeer::toQColor(color);
}

void QtGraphicsContext::setStrokeColor(const kit::Color& color)
{
    m_state.stroke = ViewPeer::toQColor(color);
}

void QtGraphicsContext::fillRect(const kit::Rect& r)
{
    m_painter.fillRect(QRectF(r.x(), r.y(), r.width(), r.height()), m_state.fill);
}

void QtGraphicsContext::drawLinearGradient(const kit::Color& startColor, const kit::Color& endColor, kit::Point from, kit::Point to)
{
    double dx = to.x - from.x, dy = to.y - from.y;
    double length = std::hypot(dx, dy);
    if (length == 0)
        return;
    QLinearGradient gradient(QPointF(from.x, from.y), QPointF(to.x, to.y));
    gradient.setColorAt(0, ViewPeer::toQColor(startColor));
    gradient.setColorAt(1, ViewPeer::toQColor(endColor));
    gradient.setSpread(QGradient::PadSpread);
    // Padding extends both ways; only the half-plane from the start line on
    // is painted, so nothing is drawn before the start.
    constexpr double far = 1e5;
    QPainterPath half;
    half.addRect(QRectF(0, -far, far, 2 * far));
    QTransform placement;
    placement.translate(from.x, from.y);
    placement.rotateRadians(std::atan2(dy, dx));
    m_painter.fillPath(placement.map(half), gradient);
}

QPainterPath QtGraphicsContext::toQPainterPath(const kit::Path& path)
{
    QPainterPath out;
    for (auto& e : path.elements()) {
        switch (e.kind) {
        case kit::Path::Element::MoveTo:
            out.moveTo(e.point.x, e.point.y);
            break;
        case kit::Path::Element::LineTo:
            out.lineTo(e.point.x, e.point.y);
            break;
        case kit::Path::Element::Arc: {
            QRectF box(e.centre.x - e.radius, e.centre.y - e.radius, 2 * e.radius, 2 * e.radius);
            // Qt counts degrees the other way round on a y-down device.
            out.arcTo(box, -degrees(e.startAngle), -degrees(e.sweep));
            break;
        }
        }
    }
    return out;
}

void QtGraphicsContext::clip()
{
    m_painter.setClipPath(toQPainterPath(m_path), Qt::IntersectClip);
    m_path.clear();
}

void QtGraphicsContext::strokePath()
{
    QPen pen(m_state.stroke, m_state.lineWidth);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    m_painter.strokePath(toQPainterPath(m_path), pen);
    m_path.clear();
}

void QtGraphicsContext::drawImage(const kit::Image& image, kit::Point point)
{
    if (image.width() <= 0 || image.height() <= 0)
        return;
    m_painter.drawImage(QPointF(point.x, point.y), wrap(image));
}

void QtGraphicsContext::drawText(const std::string& text, const kit::Rect& rect, const kit::Font& font)
{
    auto layout = kit::Fonts::layout(text, font, kit::Size { rect.width(), rect.height() });
    m_painter.setPen(m_state.fill);
    if (layout.font.file.empty()) {
        // No font file: Qt's nearest face, on the estimated lines.
        m_painter.setFont(ViewPeer::toQFont(font));
        for (size_t i = 0; i < layout.lines.size(); ++i)
            m_painter.drawText(QPointF(rect.x(), rect.y() + layout.ascent + float(i) * layout.lineHeight),
                QString::fromStdString(layout.lines[i].text));
        return;
    }
    const QRawFont& raw = rawFont(layout.font.file, layout.pixelSize);
    for (size_t i = 0; i < layout.lines.size(); ++i) {
        auto& line = layout.lines[i];
        if (line.glyphs.empty())
            continue;
        QList<quint32> indexes;
        QList<QPointF> positions;
        indexes.reserve(qsizetype(line.glyphs.size()));
        positions.reserve(qsizetype(line.glyphs.size()));
        for (auto& g : line.glyphs) {
            indexes.push_back(g.glyph);
            positions.push_back(QPointF(g.x, 0));
        }
        QGlyphRun run;
        run.setRawFont(raw);
        run.setGlyphIndexes(indexes);
        run.setPositions(positions);
        m_painter.drawGlyphRun(QPointF(rect.x(), rect.y() + layout.ascent + float(i) * layout.lineHeight), run);
    }
}

void QtGraphicsContext::drawSublayers(QPainter& painter, const kit::Layer& layer, double now)
{
    for (auto& sub : layer.sublayers()) {
        auto frame = sub->frame();
        painter.save();
        painter.setTransform(TurnOverlay::toQTransform(sub->placement(now)), true);
        if (auto& image = sub->contents(); image && image->width() > 0 && image->height() > 0)
            painter.drawImage(QRectF(0, 0, frame.width(), frame.height()), wrap(*image));
        drawSublayers(painter, *sub, now);
        painter.restore();
    }
}

} // namespace qtshell
