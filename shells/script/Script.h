#pragma once
// The automation script both shells run: one command per line, run in order
// against the application's model. A shell makes a Script, adds the standard
// commands (and any of its own) by explicit calls, and runs it. How time
// passes while a script waits is the shell's: the headless shell turns kit's
// run loop, the window turns Qt's.
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace kit {
class View;
class Application;
struct Size;
}

namespace script {

struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Script {
public:
    using Handler = std::function<void(Script&, const std::string& argument)>;

    // The shell's event loop as a script sees it.
    class Loop {
    public:
        virtual ~Loop() = default;
        // Handles what is ready now, without waiting.
        virtual void settle() = 0;
        // Turns the loop until done() holds or `seconds` of real time pass; false on the time limit.
        virtual bool runUntil(const std::function<bool()>& done, double seconds) = 0;
    };

    // `program` names the shell in error lines. Without a loop, kit's own run loop turns.
    Script(std::ostream& out, std::string program, bool virtualTime, std::unique_ptr<Loop> loop = nullptr);
    ~Script();

    void add(const std::string& name, const std::string& usage, Handler handler);
    std::string help() const;

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
    // Turns the loop until done() holds, the application ends, or `seconds`
    // of real time pass (false then). In virtual time the clock ticks on
    // meanwhile, so that timers keep firing while a child process answers.
    bool runUntil(const std::function<bool()>& done, double seconds);
    std::string dump(kit::View& root);
    // How `resize` changes the screen's size: the window's shell resizes its
    // window (which tells kit); without one, kit's screen takes the size at once.
    std::function<void(kit::Size)> onResize;

private:
    struct Command {
        std::string usage;
        Handler handler;
    };

    std::ostream& m_out;
    std::string m_program;
    bool m_virtualTime;
    std::unique_ptr<Loop> m_loop;
    std::map<std::string, Command> m_commands;
    bool m_finished { false };
};

// The commands every shell understands (see the README and docs/).
void addBaseCommands(Script& script);  // tabs, buttons, popups, typing, time, dumps, settings
void addFilesCommands(Script& script); // table rows, the movie player
void addWebCommands(Script& script);   // the front web view
void addTouchCommands(Script& script); // touches at window points, the drawing of views that draw
void addStandardCommands(Script& script);

// Text on one line, as `dump` prints it: line breaks, quotes and backslashes escaped.
std::string escapeText(const std::string& text);

// Helpers for command handlers.
double parseNumber(const std::string& text, const char* what);
// A screen size as "WxH" in points (e.g. "360x720"), at least the window's
// minimum; the message says what is wrong otherwise.
kit::Size parseScreenSize(const std::string& text);
int parseIndex(const std::string& text, const char* what);

} // namespace script
