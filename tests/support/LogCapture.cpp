#include "tests/support/LogCapture.h"

#include <algorithm>

namespace testsupport {

LogCapture::LogCapture()
{
    m_previous = kit::setLogSink([this](const std::string& line) {
        m_lines.push_back(line);
        return true;
    });
}

LogCapture::~LogCapture()
{
    kit::setLogSink(m_previous);
}

bool LogCapture::contains(const std::string& line) const
{
    return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
}

} // namespace testsupport
