#include "shells/script/Script.h"

#include "kit/ui/Application.h"
#include "kit/ui/DrawingView.h"
#include "kit/core/RunLoop.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

#include <charconv>
#include <cmath>
#include <iostream>
#include <ostream>
#include <sstream>

namespace script {

std::string escapeText(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

namespace {

class KitLoop : public Script::Loop {
public:
    explicit KitLoop(bool virtualTime)
        : m_virtualTime(virtualTime)
    {
    }
    void settle() override
    {
        auto& loop = kit::RunLoop::main();
        if (m_virtualTime)
            loop.advance(0);
        else
            loop.runOnce(0);
    }
    bool runUntil(const std::function<bool()>& done, double seconds) override
    {
        return kit::RunLoop::main().runUntil(done, seconds);
    }

private:
    bool m_virtualTime;
};

void dumpView(std::ostringstream& out, kit::View& v, int depth)
{
    out << std::string(size_t(depth) * 2, ' ') << v.className() << ' ' << v.frame().toString();
    if (v.tag())
        out << " tag=" << v.tag();
    if (v.isHidden())
        out << " hidden";
    if (v.alpha() < 1)
        out << " alpha=" << v.alpha();
    if (!v.transform().isIdentity())
        out << " translate=(" << v.transform().tx << "," << v.transform().ty << ")";
    auto text = v.displayText();
    if (!text.empty())
        out << " \"" << escapeText(text) << '"';
    out << '\n';
    // A view that draws shows its layers first: they lie over its drawing.
    if (auto* drawing = dynamic_cast<kit::DrawingView*>(&v))
        out << drawing->layer().describeSublayers(depth + 1);
    for (auto& child : v.subviews())
        dumpView(out, *child, depth + 1);
}
} // namespace

void Script::add(const std::string& name, const std::string& usage, Handler handler)
{
    m_commands[name] = Command { usage, std::move(handler) };
}

std::string Script::help() const
{
    std::string out;
    for (auto& [name, command] : m_commands)
        out += "  " + command.usage + "\n";
    return out;
}

void addStandardCommands(Script& script)
{
    addBaseCommands(script);
    addFilesCommands(script);
    addWebCommands(script);
    addTouchCommands(script);
}

double parseNumber(const std::string& text, const char* what)
{
    double v = 0;
    auto* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || p != end || !std::isfinite(v) || v < 0)
        throw ScriptError(std::string(what) + " must be a number of zero or more, not '" + text + "'");
    return v;
}

kit::Size parseScreenSize(const std::string& text)
{
    auto x = text.find_first_of("x ");
    if (x == std::string::npos)
        throw ScriptError("a size is WIDTHxHEIGHT in points, such as 360x720, not '" + text + "'");
    auto number = [&](const std::string& part, const char* what) {
        try {
            return parseNumber(part, what);
        } catch (const ScriptError&) {
            throw ScriptError("a size is WIDTHxHEIGHT in points, such as 360x720, not '" + text + "'");
        }
    };
    auto rest = text.substr(x + 1);
    rest.erase(0, rest.find_first_not_of(' ') == std::string::npos ? 0 : rest.find_first_not_of(' '));
    const double w = number(text.substr(0, x), "the width"), h = number(rest, "the height");
    if (w < kit::Window::minimumWidth || h < kit::Window::minimumHeight)
        throw ScriptError("the application needs at least " + std::to_string(int(kit::Window::minimumWidth)) + "x"
            + std::to_string(int(kit::Window::minimumHeight)) + " points, not " + text);
    if (w > 16384 || h > 16384)
        throw ScriptError("a size of at most 16384x16384 points, not " + text);
    return { float(w), float(h) };
}

int parseIndex(const std::string& text, const char* what)
{
    int v = 0;
    auto* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || p != end)
        throw ScriptError(std::string(what) + " must be a whole number, not '" + text + "'");
    return v;
}

Script::Script(std::ostream& out, std::string program, bool virtualTime, std::unique_ptr<Loop> loop)
    : m_out(out)
    , m_program(std::move(program))
    , m_virtualTime(virtualTime)
    , m_loop(loop ? std::move(loop) : std::make_unique<KitLoop>(virtualTime))
{
}

Script::~Script() = default;

kit::Application& Script::app()
{
    return kit::Application::shared();
}

kit::View& Script::frontScreen()
{
    auto* window = app().keyWindow();
    if (!window)
        throw ScriptError("the application has no window");
    auto* front = window->frontView();
    return front ? *front : static_cast<kit::View&>(*window);
}

void Script::settle()
{
    m_loop->settle();
}

void Script::wait(double seconds)
{
    if (m_virtualTime)
        kit::RunLoop::main().advance(seconds);
    else
        m_loop->runUntil([this] { return app().isTerminating(); }, seconds);
}

bool Script::runUntil(const std::function<bool()>& done, double seconds)
{
    return m_loop->runUntil([&] {
        if (m_virtualTime)
            kit::RunLoop::main().advance(0.05);
        return done() || app().isTerminating();
    }, seconds);
}

std::string Script::dump(kit::View& root)
{
    std::ostringstream out;
    dumpView(out, root, 0);
    return out.str();
}

int Script::run(std::istream& in)
{
    std::string line;
    int lineNumber = 0;
    while (!m_finished && std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        line = line.substr(start);
        auto space = line.find(' ');
        std::string name = line.substr(0, space);
        std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
        auto it = m_commands.find(name);
        try {
            if (it == m_commands.end())
                throw ScriptError("unknown command '" + name + "'; the commands are:\n" + help());
            it->second.handler(*this, argument);
            settle();
        } catch (const ScriptError& e) {
            m_out.flush();
            std::cerr << m_program << ": line " << lineNumber << ": " << line << ": " << e.what() << std::endl;
            return 1;
        }
        m_out.flush();
        if (app().isTerminating())
            break;
    }
    return 0;
}

} // namespace script
