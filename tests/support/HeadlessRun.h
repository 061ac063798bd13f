#pragma once
// Runs the headless shell on a script, as a person's terminal would, and
// keeps what it printed.
#include <string>

namespace testsupport {

struct HeadlessRun {
    int status { -1 }; // the exit status, or -1 when the shell did not exit
    std::string out;   // standard output
    std::string err;   // standard error (the system log, failures)
    bool has(const std::string& text) const { return out.find(text) != std::string::npos; }
};

struct HeadlessOptions {
    bool virtualTime { false };
    // Standard error joins standard output (in the order written).
    bool mergeErrors { false };
};

// `binary` is the shell's path; the device lies under `root`, where the
// script is written as script.txt.
HeadlessRun runHeadless(const std::string& binary, const std::string& root, const std::string& script, HeadlessOptions options = {});

} // namespace testsupport
