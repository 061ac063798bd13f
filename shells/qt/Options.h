#pragma once
// quorvane's command line.
#include <string>
#include <vector>

namespace qtshell {

struct Options {
    std::string root;          // --root DIR: lay the device under DIR
    std::string screenshot;    // --screenshot FILE: render the window to a PNG and exit
    std::string script;        // --script FILE: run an automation script on the window, then end
    int tab { -1 };            // --tab N: the tab shown first
    bool verbose { false };    // --verbose: the system log and the web engine's diagnostics on the terminal
    bool exitAfterFirstFrame { false };
    bool ifRunning { false };  // --if-running: only bring a running Quorvane's window back
    std::string open;          // FILE: a .torrent file to hand to the running Quorvane (or this one)
    bool help { false };
    std::string error;         // set when the command line is wrong

    static Options parse(const std::vector<std::string>& args);
    static std::string usage();
    // Runs to an end by itself (a picture, a script, a start-up measure): no
    // single-instance lock, no tray icon, and no display needed.
    bool oneShot() const { return !screenshot.empty() || !script.empty() || exitAfterFirstFrame; }
};

} // namespace qtshell
