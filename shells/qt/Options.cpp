#include "shells/qt/Options.h"

#include <charconv>

namespace qtshell {

Options Options::parse(const std::vector<std::string>& args)
{
    Options o;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // The file the desktop opens (Exec=quorvane %f): one, anywhere on the line.
        if (optionsEnded || (!a.empty() && a[0] != '-')) {
            if (!o.open.empty())
                o.error = "only one file can be opened at a time, not '" + o.open + "' and '" + a + "'";
            else
                o.open = a;
            if (!o.error.empty())
                return o;
            continue;
        }
        auto value = [&](const char* name) -> const std::string* {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                o.error = std::string(name) + " needs a value";
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "--root") {
            if (auto* v = value("--root"))
                o.root = *v;
        } else if (a == "--screenshot") {
            if (auto* v = value("--screenshot"))
                o.screenshot = *v;
        } else if (a == "--script") {
            if (auto* v = value("--script"))
                o.script = *v;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--tab") {
            if (auto* v = value("--tab")) {
                int n = -1;
                auto [p, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
                if (ec != std::errc() || p != v->data() + v->size() || n < 0)
                    o.error = "--tab needs a tab number (0 for the first tab), not '" + *v + "'";
                else
                    o.tab = n;
            }
        } else if (a == "--if-running") {
            o.ifRunning = true;
        } else if (a == "--exit-after-first-frame") {
            o.exitAfterFirstFrame = true;
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else {
            o.error = "unknown argument '" + a + "'";
        }
        if (!o.error.empty())
            return o;
    }
    return o;
}

std::string Options::usage()
{
    return "usage: quorvane [--root DIR] [--tab N] [--screenshot FILE | --script FILE] [--verbose] [FILE.torrent]\n"
           "  FILE.torrent       open a .torrent file: the running Quorvane (or a new one) shows its\n"
           "                     Transfer tab and asks whether to download it\n"
           "  --root DIR         lay the device under DIR (default: your own folders)\n"
           "  --tab N            show tab N first (0 Welcome, 1 Browse, 2 Files, 3 Transfer)\n"
           "  --screenshot FILE  render the window to a PNG file and exit (works without a display)\n"
           "  --script FILE      run a script of quorvane-headless's commands on the window, plus\n"
           "                     'screenshot FILE'; the script's end ends Quorvane ('-' reads standard input)\n"
           "  --verbose          the system log and the web engine's own diagnostics on the terminal\n"
           "                     (otherwise the log goes to the journal or ~/.local/state/quorvane/quorvane.log)\n"
           "  --if-running       only bring a running Quorvane's window back: status 0, or 1 when none runs\n"
           "  --exit-after-first-frame  end once the window is first painted (start-up benchmark)\n"
           "Closing the window ends it; the transfers go on in the transfer service\n"
           "(quorvane-service), and starting quorvane again shows them. Exit on the Welcome\n"
           "tab stops them and the service.\n"
           "Without a display, use quorvane-headless (see quorvane-headless --help).\n";
}

} // namespace qtshell
