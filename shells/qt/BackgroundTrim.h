#pragma once
// What the window gives back while nobody looks at it. Once no web page is
// left alive (each was let go unseen, or closed) and the renderer has ended,
// the mapped files (the program and its libraries, the web engine's above
// all) hand back their resident pages, and the heap its free pages; again
// once the window is closed, for what was used since. The pages come back
// from their files when next used: the window's next frame, a page shown
// again, the window opened again.
//
// A change is acted on after settleDelay seconds on kit's clock, so that the
// last frame of a closing window and a page's last steps are done first.
#include <string>

namespace qtshell::BackgroundTrim {

inline constexpr double settleDelay = 2;

// The main window shown (and not minimised), or not.
void windowShown(bool shown);
// Web pages not discarded: one more (+1) or one less (-1).
void livePagesChanged(int delta);
// The web engine's library, once the engine has started: the renderer maps it too.
void engineStarted(const std::string& libraryPath);

// What was done last, for tests: 0 nothing, 1 with the window shown, 2 with it closed.
int lastTrim();

} // namespace qtshell::BackgroundTrim
