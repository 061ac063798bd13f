#include "kit/RecordingContext.h"

#include "kit/Image.h"

#include <charconv>

namespace kit {

std::string formatFloat(float value)
{
    if (value == 0)
        return "0"; // also for -0
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

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
