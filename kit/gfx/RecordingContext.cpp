#include "kit/gfx/RecordingContext.h"

#include "kit/gfx/Image.h"

#include <charconv>

namespace kit {

std::string DrawOperation::toString() const
{
    std::string out = name;
    for (float v : values)
        out += ' ' + formatFloat(v);
    for (auto& s : strings) {
        out += " \"";
        for (char c : s) {
            if (c == '"' || c == '\\')
                out += '\\';
            if (c == '\n') {
                out += "\\n";
                continue;
            }
            out += c;
        }
        out += '"';
    }
    return out;
}

std::string RecordingContext::toString() const
{
    std::string out;
    for (auto& op : m_operations)
        out += op.toString() + '\n';
    return out;
}

void RecordingContext::drawImage(const Image& image, Point point)
{
    record("drawImage", { point.x, point.y, float(image.width()), float(image.height()) });
}

} // namespace kit
