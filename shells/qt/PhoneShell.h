#pragma once
// A phone's shell (phosh, Plasma Mobile) around the window: it shows the
// system's status bar over every application, gives each window the whole
// screen below it and draws no title bars. The session says which shell it
// is (XDG_CURRENT_DESKTOP, or Plasma's PLASMA_PLATFORM); QUORVANE_PHONE_SHELL=1
// or 0 says it outright, for a trial or a desktop that wants otherwise.
#include <functional>
#include <string>

namespace qtshell::PhoneShell {

// Reads the session from `variable` (the environment by default).
bool detect(const std::function<std::string(const char*)>& variable = {});

// Once, before the application object: takes the decision for the whole
// run. Under a phone shell the window asks for no decoration of its own (Qt
// draws a desktop title bar where the compositor offers none) and the
// application's status bar is hidden.
void prepare();
bool isActive();
// The decision by hand (tests): the status bar follows it.
void setActive(bool active);

} // namespace qtshell::PhoneShell
