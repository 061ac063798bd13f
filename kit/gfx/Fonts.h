#pragma once
// Fonts and text layout: the one text-measuring implementation that both
// shells use, so that a banner is laid out the same with and without a
// display. A font name ("Helvetica", "Helvetica-Bold") is found through
// fontconfig and measured with FreeType, unhinted, in float points.
//
// Fallback: when fontconfig offers no face that is, or is made to measure
// like, Helvetica (Nimbus Sans, Liberation Sans, Arimo), the nearest face it
// offers is used and one line is logged, once per font name. When there is no
// font file at all, a fixed estimate stands in (0.55 of the size per
// character, 1.2 of the size per line), logged once as well.
//
// Layout rules: lines break at "\n"; with a width given, words wrap at
// blanks and a word longer than the width is cut between characters. Every
// line is ceil(ascent + descent) high; the measured width is the widest line,
// rounded up. With a height given, only the lines that fit whole are counted.
//
// Main thread only (the face cache is not locked).
#include "kit/gfx/Geometry.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kit {

struct ResolvedFont {
    std::string file;      // empty: no face; the estimate is used
    int faceIndex { 0 };
    std::string family;
    bool fallback { false }; // not a Helvetica face nor one that measures like it
};

struct PositionedGlyph {
    uint32_t glyph { 0 }; // index in the face
    float x { 0 };        // pen position from the line's left edge
};

struct TextLine {
    std::string text;
    std::vector<PositionedGlyph> glyphs;
    float width { 0 };
};

struct TextLayout {
    std::vector<TextLine> lines;
    float lineHeight { 0 };
    float ascent { 0 }; // from a line's top to its baseline
    Size size;          // what measuring reports
    ResolvedFont font;
    float pixelSize { 0 };
};

class Fonts {
public:
    static ResolvedFont resolve(const Font& font);
    static TextLayout layout(const std::string& text, const Font& font, std::optional<Size> constraint = std::nullopt);

    // Unconstrained: one line per "\n"-separated paragraph.
    static Size measure(const std::string& text, const Font& font);
    // Word-wrapped to the width; lines beyond the height are not counted.
    static Size measure(const std::string& text, const Font& font, Size constraint);

    // Tests replace measuring with fixed answers; an empty function restores it.
    using Measure = std::function<Size(const std::string& text, const Font& font, std::optional<Size> constraint)>;
    static void setMeasureOverride(Measure measure);

    // The two fonts of the ad banner.
    static Font helveticaBold(float size) { return { "Helvetica-Bold", size, true }; }
    static Font helvetica(float size) { return { "Helvetica", size, false }; }
};

} // namespace kit
