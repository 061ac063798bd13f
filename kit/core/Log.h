#pragma once
// The system log: one timestamped line per event on standard error.
// Tests capture lines by installing a sink; the line is still written to stderr
// unless the sink says otherwise.
#include <functional>
#include <string>
#include <string_view>

namespace kit {

void log(std::string_view line);

// Returns the previous sink. A sink returning true swallows the line (not printed).
using LogSink = std::function<bool(const std::string& line)>;
LogSink setLogSink(LogSink sink);

} // namespace kit
