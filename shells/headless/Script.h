#pragma once
// The headless shell's automation script: one command per line, run in order
// against the application's model. Commands are registered by name; other
// files of the shell add theirs with a static ScriptCommand.
#include <functional>
#include <iosfwd>
#include <map>
#include <stdexcept>
#include <string>

namespace kit {
class View;
class Application;
}

namespace headless {

struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Script {
public:
    using Handler = std::function<void(Script&, const std::string& argument)>;

    Script(std::ostream& out, bool virtualTime);

    // Runs every line; returns the exit status (0, or 1 after a failed command).
    int run(std::istream& in);
    bool finished() const { return m_finished; }
    void finish() { m_finished = true; }

    std::ostream& out() { return m_out; }
    bool virtualTime() const { return m_virtualTime; }
    kit::Application& app();
    // The screen on top: a presented screen, else the tab bar with the selected tab.
    kit::View& frontScreen();
    // Lets the loop handle what is ready now (posted work, ready descriptors, due timers).
    void settle();
    // Turns the loop for the given seconds: virtual time advances; real time passes.
    void wait(double seconds);
    std::string dump(kit::View& root);

    static std::map<std::string, Handler>& commands();
    static std::string help();

private:
    std::ostream& m_out;
    bool m_virtualTime;
    bool m_finished { false };
};

// Registers a command at start-up: static headless::ScriptCommand c { "name", "usage", handler };
struct ScriptCommand {
    ScriptCommand(const std::string& name, const std::string& usage, Script::Handler handler);
};

// Helpers for command handlers.
double parseNumber(const std::string& text, const char* what);
int parseIndex(const std::string& text, const char* what);

} // namespace headless
