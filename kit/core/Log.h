#pragma once
// The system log: one timestamped line per event. It goes to standard error
// (the headless shell, tests, a window started with --verbose), or to the
// desktop's log: the systemd journal where one listens, otherwise a file
// under the XDG state folder ($XDG_STATE_HOME/quorvane/quorvane.log, by
// default ~/.local/state/quorvane/quorvane.log), so that a window keeps the
// terminal quiet.
// Tests capture lines by installing a sink; the line is still written
// unless the sink says otherwise. Main thread only.
#include <functional>
#include <string>
#include <string_view>

namespace kit {

void log(std::string_view line);

// Returns the previous sink. A sink returning true swallows the line (not printed).
using LogSink = std::function<bool(const std::string& line)>;
LogSink setLogSink(LogSink sink);

enum class LogDestination { StandardError, Desktop };
void setLogDestination(LogDestination destination);
LogDestination logDestination();
// The file the desktop destination writes when no journal listens.
std::string desktopLogFile();
// Where the journal listens (tests point it elsewhere; empty: none).
void setJournalSocket(std::string path);

} // namespace kit
