#include "kit/gfx/Fonts.h"

#include "kit/core/Log.h"
#include "kit/core/Utf8Decoder.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

namespace kit {

namespace {

// Faces that are Helvetica or are drawn to its metrics.
bool measuresLikeHelvetica(const std::string& family)
{
    static const std::set<std::string> families { "Helvetica", "Nimbus Sans", "Nimbus Sans L", "Liberation Sans", "Arimo",
        "TeX Gyre Heros" };
    return families.count(family) > 0;
}

// One FreeType face per font file, kept for the life of the process.
class FaceCache {
public:
    static FaceCache& shared()
    {
        static FaceCache cache;
        return cache;
    }

    FT_Face face(const ResolvedFont& font)
    {
        if (font.file.empty() || !m_library)
            return nullptr;
        auto key = std::make_pair(font.file, font.faceIndex);
        auto it = m_faces.find(key);
        if (it != m_faces.end())
            return it->second;
        FT_Face face = nullptr;
        if (FT_New_Face(m_library, font.file.c_str(), font.faceIndex, &face) != 0)
            face = nullptr;
        m_faces[key] = face;
        return face;
    }

private:
    FaceCache()
    {
        if (FT_Init_FreeType(&m_library) != 0)
            m_library = nullptr;
    }
    ~FaceCache()
    {
        for (auto& [key, face] : m_faces)
            if (face)
                FT_Done_Face(face);
        if (m_library)
            FT_Done_FreeType(m_library);
    }

    FT_Library m_library { nullptr };
    std::map<std::pair<std::string, int>, FT_Face> m_faces;
};

ResolvedFont findWithFontconfig(const Font& font)
{
    ResolvedFont resolved;
    if (!FcInit())
        return resolved;
    std::string family = font.name;
    bool bold = font.bold;
    if (auto dash = family.find('-'); dash != std::string::npos) {
        bold = bold || family.find("Bold", dash) != std::string::npos;
        family = family.substr(0, dash);
    }
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (match) {
        FcChar8* file = nullptr;
        FcChar8* matchedFamily = nullptr;
        int index = 0;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
            resolved.file = reinterpret_cast<const char*>(file);
        if (FcPatternGetString(match, FC_FAMILY, 0, &matchedFamily) == FcResultMatch)
            resolved.family = reinterpret_cast<const char*>(matchedFamily);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch)
            resolved.faceIndex = index;
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    resolved.fallback = !measuresLikeHelvetica(resolved.family);
    return resolved;
}

Fonts::Measure& measureOverride()
{
    static Fonts::Measure measure;
    return measure;
}

// Glyph indexes and advances in font units, per face: laying a text out
// again (every frame of a window) asks FreeType nothing new.
struct GlyphInfo {
    uint32_t glyph;
    long advance; // font units
};

GlyphInfo glyphFor(FT_Face face, char32_t cp)
{
    static std::map<FT_Face, std::unordered_map<char32_t, GlyphInfo>> cache;
    auto& glyphs = cache[face];
    if (auto it = glyphs.find(cp); it != glyphs.end())
        return it->second;
    GlyphInfo info { FT_Get_Char_Index(face, cp), 0 };
    if (FT_Load_Glyph(face, info.glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_IGNORE_TRANSFORM) == 0)
        info.advance = face->glyph->advance.x;
    glyphs.emplace(cp, info);
    return info;
}

struct Metrics {
    FT_Face face { nullptr };
    float size { 0 };
    float scale { 0 }; // points per font unit
    float ascent { 0 };
    float lineHeight { 0 };

    float advance(char32_t cp, uint32_t& glyph) const
    {
        if (!face) {
            glyph = 0;
            return size * 0.55f;
        }
        auto info = glyphFor(face, cp);
        glyph = info.glyph;
        return float(info.advance) * scale;
    }
};

Metrics metricsFor(const ResolvedFont& resolved, float size)
{
    Metrics m;
    m.size = size;
    m.face = FaceCache::shared().face(resolved);
    if (m.face && m.face->units_per_EM > 0) {
        m.scale = size / float(m.face->units_per_EM);
        m.ascent = float(m.face->ascender) * m.scale;
        m.lineHeight = std::ceil(float(m.face->ascender - m.face->descender) * m.scale);
    } else {
        m.face = nullptr;
        m.ascent = size * 0.95f;
        m.lineHeight = std::ceil(size * 1.2f);
    }
    return m;
}

struct Char {
    char32_t cp;
    uint32_t glyph;
    float advance;
};

TextLine makeLine(const std::vector<Char>& chars, size_t from, size_t to)
{
    // Trailing blanks take no room.
    while (to > from && chars[to - 1].cp == U' ')
        --to;
    TextLine line;
    float x = 0;
    for (size_t i = from; i < to; ++i) {
        line.glyphs.push_back({ chars[i].glyph, x });
        appendUtf8(line.text, chars[i].cp);
        x += chars[i].advance;
    }
    line.width = x;
    return line;
}

// Greedy wrapping of one paragraph to a width.
void wrap(const std::vector<Char>& chars, float width, std::vector<TextLine>& lines)
{
    if (chars.empty()) {
        lines.push_back({});
        return;
    }
    size_t lineStart = 0;
    while (lineStart < chars.size()) {
        float x = 0;
        size_t i = lineStart;
        size_t lastBreak = std::string::npos; // index of the blank after the last word that fits
        size_t end = chars.size();
        for (; i < chars.size(); ++i) {
            if (chars[i].cp == U' ') {
                lastBreak = i;
                x += chars[i].advance;
                continue;
            }
            if (x + chars[i].advance > width + 0.001f) {
                if (lastBreak != std::string::npos)
                    end = lastBreak;
                else
                    end = std::max(i, lineStart + 1); // a word wider than the line is cut
                break;
            }
            x += chars[i].advance;
        }
        if (i == chars.size())
            end = chars.size();
        lines.push_back(makeLine(chars, lineStart, end));
        lineStart = end;
        while (lineStart < chars.size() && chars[lineStart].cp == U' ')
            ++lineStart;
    }
}

} // namespace

ResolvedFont Fonts::resolve(const Font& font)
{
    static std::map<std::pair<std::string, bool>, ResolvedFont> cache;
    auto key = std::make_pair(font.name, font.bold);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    ResolvedFont resolved = findWithFontconfig(font);
    if (resolved.file.empty() || !FaceCache::shared().face(resolved)) {
        resolved = {};
        resolved.fallback = true;
        kit::log("Fonts: no font file for \"" + font.name + "\"; text is measured by a fixed estimate");
    } else if (resolved.fallback) {
        kit::log("Fonts: no face that measures like \"" + font.name + "\"; using " + resolved.family + " (" + resolved.file
            + "); install fonts-urw-base35 for the intended layout");
    }
    cache[key] = resolved;
    return resolved;
}

TextLayout Fonts::layout(const std::string& text, const Font& font, std::optional<Size> constraint)
{
    TextLayout layout;
    layout.font = resolve(font);
    layout.pixelSize = font.size;
    Metrics metrics = metricsFor(layout.font, font.size);
    layout.ascent = metrics.ascent;
    layout.lineHeight = metrics.lineHeight;

    std::u32string codepoints = kit::codepoints(text);
    std::vector<Char> paragraph;
    auto flush = [&] {
        if (constraint)
            wrap(paragraph, std::max(0.0f, constraint->width), layout.lines);
        else
            layout.lines.push_back(makeLine(paragraph, 0, paragraph.size()));
        paragraph.clear();
    };
    for (char32_t cp : codepoints) {
        if (cp == U'\n') {
            flush();
            continue;
        }
        if (cp == U'\t' || cp == U'\r')
            cp = U' ';
        Char c { cp, 0, 0 };
        c.advance = metrics.advance(cp, c.glyph);
        paragraph.push_back(c);
    }
    flush();

    if (constraint && metrics.lineHeight > 0) {
        auto fitting = size_t(std::max(0.0f, std::floor((constraint->height + 0.001f) / metrics.lineHeight)));
        if (layout.lines.size() > fitting)
            layout.lines.resize(fitting);
    }
    float widest = 0;
    for (auto& line : layout.lines)
        widest = std::max(widest, line.width);
    float width = std::ceil(widest - 0.001f);
    if (constraint)
        width = std::min(width, std::max(0.0f, constraint->width));
    layout.size = { width, float(layout.lines.size()) * metrics.lineHeight };
    return layout;
}

Size Fonts::measure(const std::string& text, const Font& font)
{
    if (auto& override = measureOverride())
        return override(text, font, std::nullopt);
    return layout(text, font).size;
}

Size Fonts::measure(const std::string& text, const Font& font, Size constraint)
{
    if (auto& override = measureOverride())
        return override(text, font, constraint);
    return layout(text, font, constraint).size;
}

void Fonts::setMeasureOverride(Measure measure)
{
    measureOverride() = std::move(measure);
}

} // namespace kit
