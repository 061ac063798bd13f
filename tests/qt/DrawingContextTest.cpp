// kit's drawing context on a QPainter: the gradient's extent, clipping to a
// rounded path, strokes, images at their natural size, and text where the
// shared layout puts it.
#include "QtTestSupport.h"

#include "shells/qt/QtGraphicsContext.h"

#include "kit/gfx/Fonts.h"
#include "kit/gfx/Image.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

using namespace qtshell;

namespace {

QImage canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    return image;
}

TEST(DrawingContextTest, GradientStartsAtItsStartAndRunsOnPastItsEnd)
{
    auto image = canvas(60, 100);
    {
        QPainter painter(&image);
        QtGraphicsContext context(painter);
        context.drawLinearGradient(kit::Color::rgba(0, 0, 1, 0.5f), kit::Color::rgba(0, 0, 1, 1), { 30, 20 }, { 30, 60 });
    }
    EXPECT_EQ(image.pixelColor(30, 10), QColor(Qt::white)); // before the start: untouched
    EXPECT_EQ(image.pixelColor(30, 90), QColor(0, 0, 255)); // after the end: the end colour
    QColor start = image.pixelColor(30, 21);
    EXPECT_NEAR(start.red(), 127, 6); // half-transparent blue over white
    EXPECT_EQ(start.blue(), 255);
    QColor middle = image.pixelColor(30, 40);
    EXPECT_NEAR(middle.red(), 64, 8);
}

TEST(DrawingContextTest, ClipToARoundedPathThenStrokeAndRestore)
{
    auto image = canvas(40, 40);
    {
        QPainter painter(&image);
        QtGraphicsContext context(painter);
        context.saveGState();
        context.beginPath();
        context.moveTo({ 0, 10 });
        context.addArcToPoint({ 0, 40 }, { 40, 40 }, 10);
        context.addArcToPoint({ 40, 40 }, { 40, 0 }, 10);
        context.addArcToPoint({ 40, 0 }, { 0, 0 }, 10);
        context.addArcToPoint({ 0, 0 }, { 0, 40 }, 10);
        context.clip();
        context.setFillColor(kit::Color::black());
        context.fillRect({ 0, 0, 40, 40 });
        context.restoreGState();
        context.setFillColor(kit::Color::rgba(1, 0, 0, 1));
        context.fillRect({ 0, 0, 2, 2 }); // the clip is gone with the restore
        context.beginPath();
        context.setStrokeColor(kit::Color::rgba(0, 1, 0, 1));
        context.setLineWidth(2);
        context.addArc({ 20, 20 }, 10, 0, 3.14159265f); // lower half only: growing angle, y down
        context.strokePath();
    }
    EXPECT_EQ(image.pixelColor(1, 1), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(1, 2), QColor(Qt::white)); // the rounded corner left it out
    EXPECT_EQ(image.pixelColor(20, 5), QColor(Qt::black));
    EXPECT_GT(image.pixelColor(20, 30).green(), 200); // the arc's bottom
    EXPECT_LT(image.pixelColor(20, 10).green(), 50);  // no upper half
}

TEST(DrawingContextTest, ImagesInTheirNaturalSizeAndTextInTheFillColour)
{
    std::vector<uint8_t> pixels(6 * 4 * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = 255;
        pixels[i + 3] = 255;
    }
    auto red = kit::Image::fromRGBA(6, 4, pixels);
    auto image = canvas(120, 40);
    kit::Rect textRect { 20, 10, 90, 20 };
    {
        QPainter painter(&image);
        QtGraphicsContext context(painter);
        context.drawImage(*red, { 2, 3 });
        context.setFillColor(kit::Color::black());
        context.drawText("Ads by Adlark", textRect, kit::Fonts::helvetica(9.5f));
    }
    EXPECT_EQ(image.pixelColor(2, 3), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(7, 6), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(8, 6), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(2, 7), QColor(Qt::white));
    // Ink inside the measured box and none beyond it.
    auto size = kit::Fonts::measure("Ads by Adlark", kit::Fonts::helvetica(9.5f));
    int ink = 0, outside = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 12; x < image.width(); ++x)
            if (image.pixelColor(x, y).lightness() < 128) {
                bool inside = x >= textRect.x() && x <= textRect.x() + size.width + 1 && y >= textRect.y() && y <= textRect.y() + size.height + 1;
                (inside ? ink : outside)++;
            }
    EXPECT_GT(ink, 20);
    EXPECT_EQ(outside, 0);
}

} // namespace
