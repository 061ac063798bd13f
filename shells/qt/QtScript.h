#pragma once
// The headless shell's script language on the real window: the same commands
// (one implementation serves both shells), with time passing on Qt's loop,
// plus `screenshot FILE`, the window as it is shown, alerts and sheets included.
#include <iosfwd>
#include <string>

namespace qtshell {

class QtPlatform;

// Runs the script at `path` ("-" reads standard input) on the shown window;
// returns 0, 1 after a failed command, 2 when the script cannot be read.
int runScript(QtPlatform& platform, const std::string& path, std::ostream& out);

} // namespace qtshell
