#pragma once
// Captures kit's log lines for one test instead of writing them out.
#include "kit/core/Log.h"

#include <string>
#include <vector>

namespace testsupport {

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::string>& lines() const { return m_lines; }
    bool contains(const std::string& line) const;
    void clear() { m_lines.clear(); }

private:
    std::vector<std::string> m_lines;
    kit::LogSink m_previous;
};

} // namespace testsupport
