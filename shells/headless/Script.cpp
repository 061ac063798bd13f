#include "shells/headless/Script.h"

#include "kit/Application.h"
#include "kit/RunLoop.h"
#include "kit/View.h"
#include "kit/Window.h"

#include <charconv>
#include <cmath>
#include <iostream>
#include <ostream>
#include <sstream>

namespace headless {

namespace {
std::map<std::string, std::string>& usages()
{
    static std::map<std::string, std::string> u;
    return u;
}

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
    for (auto& child : v.subviews())
        dumpView(out, *child, depth + 1);
}
} // namespace

std::map<std::string, Script::Handler>& Script::commands()
{
    static std::map<std::string, Handler> c;
    return c;
}

ScriptCommand::ScriptCommand(const std::string& name, const std::string& usage, Script::Handler handler)
{
    Script::commands()[name] = std::move(handler);
    usages()[name] = usage;
}

std::string Script::help()
{
    std::string out;
    for (auto& [name, usage] : usages())
        out += "  " + usage + "\n";
    return out;
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

int parseIndex(const std::string& text, const char* what)
{
    int v = 0;
    auto* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || p != end)
        throw ScriptError(std::string(what) + " must be a whole number, not '" + text + "'");
    return v;
}

Script::Script(std::ostream& out, bool virtualTime)
    : m_out(out)
    , m_virtualTime(virtualTime)
{
}

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
    auto& loop = kit::RunLoop::main();
    if (m_virtualTime)
        loop.advance(0);
    else
        loop.runOnce(0);
}

void Script::wait(double seconds)
{
    auto& loop = kit::RunLoop::main();
    if (m_virtualTime)
        loop.advance(seconds);
    else
        loop.runUntil([this] { return app().isTerminating(); }, seconds);
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
        auto it = commands().find(name);
        try {
            if (it == commands().end())
                throw ScriptError("unknown command '" + name + "'; the commands are:\n" + help());
            it->second(*this, argument);
            settle();
        } catch (const ScriptError& e) {
            m_out.flush();
            std::cerr << "quorvane-headless: line " << lineNumber << ": " << line << ": " << e.what() << std::endl;
            return 1;
        }
        m_out.flush();
        if (app().isTerminating())
            break;
    }
    return 0;
}

} // namespace headless
