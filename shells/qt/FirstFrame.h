#pragma once
// Work that must not hold up the window's first frame (starting the web
// engine, loading media) can wait for it here: afterFirstFrame() runs the
// work on the first Qt loop turn after the window's first paint, or at once
// when no window is waiting to paint (screenshots paint first too; tests
// without a window run it at once).
#include <functional>

namespace qtshell {

void afterFirstFrame(std::function<void()> work);
bool isFirstFramePending();

// The window's side: pending from its making until its first paint.
void setFirstFramePending(bool pending);

} // namespace qtshell
