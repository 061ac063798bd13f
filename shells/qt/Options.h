#pragma once
// quorvane's command line.
#include <string>
#include <vector>

namespace qtshell {

struct Options {
    std::string root;          // --root DIR: lay the device under DIR
    std::string screenshot;    // --screenshot FILE: render the window to a PNG and exit
    int tab { -1 };            // --tab N: the tab shown first
    bool exitAfterFirstFrame { false };
    bool help { false };
    std::string error;         // set when the command line is wrong

    static Options parse(const std::vector<std::string>& args);
    static std::string usage();
};

} // namespace qtshell
