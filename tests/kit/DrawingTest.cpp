// The drawing context's path geometry, the recording backend and text measuring.
#include "kit/gfx/Fonts.h"
#include "kit/gfx/Path.h"
#include "kit/gfx/RecordingContext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

constexpr float pi = std::numbers::pi_v<float>;

TEST(PathTest, TangentArcThroughACornerBecomesALineAndAQuarterArc)
{
    // From the left edge down to the bottom-left corner, turning right: the
    // rounded corner of a rectangle with radius 7.
    kit::Path path;
    path.moveTo({ 4.5f, 12 });
    path.addArcToPoint({ 4.5f, 43.5f }, { 42.5f, 43.5f }, 7);
    auto& e = path.elements();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[1].kind, kit::Path::Element::LineTo);
    EXPECT_FLOAT_EQ(e[1].point.x, 4.5f);
    EXPECT_NEAR(e[1].point.y, 36.5f, 1e-4);
    EXPECT_EQ(e[2].kind, kit::Path::Element::Arc);
    EXPECT_NEAR(e[2].centre.x, 11.5f, 1e-4);
    EXPECT_NEAR(e[2].centre.y, 36.5f, 1e-4);
    EXPECT_NEAR(e[2].startAngle, pi, 1e-5);
    EXPECT_NEAR(e[2].sweep, -pi / 2, 1e-5); // towards the bottom: angle shrinks from π to π/2
    ASSERT_TRUE(path.currentPoint());
    EXPECT_NEAR(path.currentPoint()->x, 11.5f, 1e-4);
    EXPECT_NEAR(path.currentPoint()->y, 43.5f, 1e-4);
}

TEST(PathTest, ArcsRunWithGrowingAngleAndJoinTheCurrentPoint)
{
    kit::Path path;
    path.moveTo({ 0, 0 });
    // 7π/4 to 2π, and 3π/4 to π: both a positive eighth of a turn.
    path.addArc({ 10, 10 }, 5, 7 * pi / 4, 2 * pi);
    path.addArc({ 10, 10 }, 5, 3 * pi / 4, pi);
    // From 3π/2 down to π/2 with growing angle is three quarters of a turn, not minus a half.
    path.addArc({ 10, 10 }, 5, 3 * pi / 2, pi / 2);
    auto& e = path.elements();
    ASSERT_EQ(e.size(), 7u);
    EXPECT_EQ(e[1].kind, kit::Path::Element::LineTo); // the line to the first arc's start
    EXPECT_NEAR(e[1].point.x, 10 + 5 * std::cos(7 * pi / 4), 1e-4);
    EXPECT_NEAR(e[2].sweep, pi / 4, 1e-5);
    EXPECT_NEAR(e[4].sweep, pi / 4, 1e-5);
    EXPECT_NEAR(e[6].sweep, pi, 1e-5);
}

TEST(PathTest, DegenerateTangentArcsAreAPlainLine)
{
    kit::Path path;
    path.addArcToPoint({ 3, 3 }, { 5, 5 }, 2); // no current point: it starts there
    path.addArcToPoint({ 6, 6 }, { 9, 9 }, 2); // straight on
    path.addArcToPoint({ 6, 9 }, { 9, 9 }, 0); // no radius
    auto& e = path.elements();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].kind, kit::Path::Element::MoveTo);
    EXPECT_EQ(e[1].kind, kit::Path::Element::LineTo);
    EXPECT_EQ(e[2].kind, kit::Path::Element::LineTo);
    EXPECT_EQ(e[2].point, (kit::Point { 6, 9 }));
}

TEST(RecordingContextTest, PrintsEveryOperationWithItsExactFloats)
{
    kit::RecordingContext context;
    context.setFillColor(kit::colorWithAlpha(kit::Color::rgba(0.443f, 0.514f, 0.631f, 1), 0.5f));
    context.fillRect({ 0, 0, 320, 48 });
    context.drawLinearGradient(kit::colorWithWhite(0.4f, 1), kit::Color::black(), { 160, 0 }, { 160, 0.4375f * 48 });
    context.addArc({ 1.5f, -0.0f }, 6.5f, 0, 1);
    context.drawText("say \"hi\"\nthere", { 51, 16.5f, 160, 13 }, kit::Fonts::helveticaBold(13));
    EXPECT_EQ(context.toString(),
        "setFillColor 0.443 0.514 0.631 0.5\n"
        "fillRect 0 0 320 48\n"
        "drawLinearGradient 0.4 0.4 0.4 1 0 0 0 1 160 0 160 21\n"
        "addArc 1.5 0 6.5 0 1\n"
        "drawText 51 16.5 160 13 13 \"Helvetica-Bold\" \"say \\\"hi\\\"\\nthere\"\n");
    EXPECT_EQ(kit::formatFloat(0.1f), "0.1");
    EXPECT_EQ(kit::formatFloat(24.5f), "24.5");
}

class FontsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (kit::Fonts::resolve(kit::Fonts::helveticaBold(13)).family != "Nimbus Sans")
            GTEST_SKIP() << "the fixed sizes below are those of Nimbus Sans (fonts-urw-base35)";
    }
};

TEST_F(FontsTest, HelveticaIsFoundAsNimbusSansInBothWeights)
{
    auto bold = kit::Fonts::resolve(kit::Fonts::helveticaBold(13));
    auto regular = kit::Fonts::resolve(kit::Fonts::helvetica(9.5f));
    EXPECT_FALSE(bold.fallback);
    EXPECT_NE(bold.file.find("NimbusSans-Bold"), std::string::npos) << bold.file;
    EXPECT_NE(regular.file.find("NimbusSans-Regular"), std::string::npos) << regular.file;
}

TEST_F(FontsTest, FixedStringsMeasureTheSameEveryTime)
{
    auto caption = kit::Fonts::measure("Ads by Adlark", kit::Fonts::helvetica(9.5f));
    EXPECT_EQ(caption, (kit::Size { 59, 10 }));
    auto text = kit::Fonts::measure("Try the Quorvane test ad", kit::Fonts::helveticaBold(13));
    EXPECT_EQ(text, (kit::Size { 154, 13 }));
    // Fits the text area of a banner on one line: the same.
    EXPECT_EQ(kit::Fonts::measure("Try the Quorvane test ad", kit::Fonts::helveticaBold(13), { 227, 48 }), text);
    // Two lines break into one per "\n" unconstrained.
    EXPECT_EQ(kit::Fonts::measure("Ads by\nAdlark", kit::Fonts::helvetica(9.5f)).height, 20);
}

TEST_F(FontsTest, WrappingBreaksAtBlanksCutsLongWordsAndCountsOnlyWholeLinesThatFit)
{
    auto bold = kit::Fonts::helveticaBold(13);
    const std::string text = "A much longer advertisement text that wraps onto more lines than fit in the banner, and more words after them";
    // Four lines' worth; three whole lines fit in the banner's 48 points.
    auto layout = kit::Fonts::layout(text, bold, kit::Size { 227, 48 });
    ASSERT_EQ(layout.lines.size(), 3u);
    EXPECT_EQ(layout.lines[0].text, "A much longer advertisement text");
    EXPECT_EQ(layout.lines[1].text, "that wraps onto more lines than fit");
    EXPECT_EQ(layout.lines[2].text, "in the banner, and more words after");
    EXPECT_EQ(layout.size, (kit::Size { 222, 39 }));
    for (auto& line : layout.lines)
        EXPECT_LE(line.width, 227);
    // Only two lines fit in 30 points; the width is that of those two.
    auto two = kit::Fonts::measure(text, bold, { 227, 30 });
    EXPECT_EQ(two.height, 26);
    EXPECT_EQ(two.width, 213);
    EXPECT_EQ(kit::Fonts::measure(text, bold).height, 13); // unconstrained: one line
    // A word wider than the line is cut between characters.
    auto cut = kit::Fonts::layout("Supercalifragilistic", bold, kit::Size { 40, 100 });
    ASSERT_GT(cut.lines.size(), 2u);
    std::string joined;
    for (auto& line : cut.lines) {
        EXPECT_LE(line.width, 40);
        joined += line.text;
    }
    EXPECT_EQ(joined, "Supercalifragilistic");
    // Nothing fits in no width or no height; nothing is lost from the text.
    EXPECT_EQ(kit::Fonts::measure("Any", bold, { 227, 5 }), (kit::Size { 0, 0 }));
}

TEST(FontsOverrideTest, TestsCanFixWhatMeasuringAnswers)
{
    kit::Fonts::setMeasureOverride([](const std::string& text, const kit::Font&, std::optional<kit::Size> c) {
        return kit::Size { float(text.size()), c ? c->height : 1 };
    });
    EXPECT_EQ(kit::Fonts::measure("abc", kit::Fonts::helvetica(9.5f), { 10, 24.5f }), (kit::Size { 3, 24.5f }));
    kit::Fonts::setMeasureOverride({});
    EXPECT_NE(kit::Fonts::measure("abc", kit::Fonts::helvetica(9.5f), { 10, 24.5f }).height, 24.5f);
}

} // namespace
