#pragma once
// What the window gives back while nobody looks at it. Once no web page is
// left alive (each was let go unseen, or closed), the web engine's libraries
// hand back their pages, and the heap its free pages; once the window is closed as well, every library
// does, and the heap its free pages. The pages come back from their files
// when next used: a page shown again, the window opened again.
//
// A change is acted on after settleDelay seconds on kit's clock, so that the
// last frame of a closing window and a page's last steps are done first.
#include <string>
#include <vector>

namespace qtshell::BackgroundTrim {

inline constexpr double settleDelay = 2;

// The main window shown (and not minimised), or not.
void windowShown(bool shown);
// Web pages not discarded: one more (+1) or one less (-1).
void livePagesChanged(int delta);
// The web engine's library, once the engine has started: the renderer maps it too.
void engineStarted(const std::string& libraryPath);
// The libraries the web engine brought with it (its module's and theirs),
// which the rest of the window does not use: given back with the engine's.
void engineLibrariesLoaded(std::vector<std::string> libraries);

// What was done last, for tests: 0 nothing, 1 the engine's library, 2 everything.
int lastTrim();

} // namespace qtshell::BackgroundTrim
