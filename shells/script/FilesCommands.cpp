// Script commands for lists and playback: tap a row of the front screen's
// table, print its rows, scroll it with the keys a person uses and print
// where it stands, and end the movie player's playback.
#include "shells/script/Script.h"

#include "kit/ui/Application.h"
#include "kit/ui/MoviePlayer.h"
#include "kit/ui/TableView.h"
#include "kit/ui/Window.h"

#include <algorithm>

#include <sstream>

namespace script {

namespace {

kit::TableView* frontTable(Script& s)
{
    if (auto* p = s.app().frontPopup())
        throw ScriptError(std::string("a ") + p->className() + " (\"" + p->title() + "\") is in front; answer it first");
    // Front-most visible table: later subviews lie on top.
    std::function<kit::TableView*(kit::View&)> find = [&](kit::View& v) -> kit::TableView* {
        if (v.isHidden() || v.alpha() < 0.01f)
            return nullptr;
        auto& subs = v.subviews();
        for (auto it = subs.rbegin(); it != subs.rend(); ++it)
            if (auto* t = find(**it))
                return t;
        return dynamic_cast<kit::TableView*>(&v);
    };
    auto* table = find(s.frontScreen());
    if (!table)
        throw ScriptError("there is no table on the front screen");
    return table;
}

// Each row of the table in turn, scrolled into sight first (a row has a cell
// only while it shows), until visit says it is done; whether it did.
template <class Visit>
bool visitRows(kit::TableView& table, Visit visit)
{
    for (int section = 0; section < table.numberOfSections(); ++section)
        for (int row = 0; row < table.numberOfRowsInSection(section); ++row) {
            table.scrollToRowAtIndexPath({ section, row });
            if (visit(section, row, table.cellForRowAtIndexPath({ section, row })))
                return true;
        }
    return false;
}

} // namespace

void addFilesCommands(Script& script)
{
    script.add("row", "row [SECTION] N   tap row N (of section SECTION, default 0) of the table on the front screen",
        [](Script& s, const std::string& arg) {
            std::istringstream in(arg);
            std::string first, second, extra;
            in >> first >> second >> extra;
            if (first.empty() || !extra.empty())
                throw ScriptError("usage: row [SECTION] N");
            kit::IndexPath ip;
            if (second.empty()) {
                ip.row = parseIndex(first, "the row");
            } else {
                ip.section = parseIndex(first, "the section");
                ip.row = parseIndex(second, "the row");
            }
            auto* table = frontTable(s);
            if (ip.section < 0 || ip.section >= table->numberOfSections() || ip.row < 0 || ip.row >= table->numberOfRowsInSection(ip.section))
                throw ScriptError("the table has no row " + arg);
            auto keep = table->shared_from_this();
            // A person scrolls the row into sight before tapping it.
            table->scrollToRowAtIndexPath(ip);
            table->tapRowAtIndexPath(ip);
        });

    script.add("row-named", "row-named TEXT    tap the first row showing TEXT in the table on the front screen",
        [](Script& s, const std::string& text) {
            auto* table = frontTable(s);
            auto keep = table->shared_from_this();
            const bool tapped = visitRows(*table, [&](int section, int row, auto* cell) {
                if (!cell || cell->text() != text)
                    return false;
                table->tapRowAtIndexPath({ section, row });
                return true;
            });
            if (tapped)
                return;
            table->setContentOffset(0);
            throw ScriptError("no row shows \"" + text + "\"");
        });

    script.add("rows", "rows              print every row of the table on the front screen", [](Script& s, const std::string&) {
        auto* table = frontTable(s);
        auto keep = table->shared_from_this();
        visitRows(*table, [&](int section, int row, auto* cell) {
            s.out() << section << ' ' << row << ": " << escapeText(cell ? cell->text() : std::string()) << '\n';
            return false;
        });
        table->setContentOffset(0);
    });

    script.add("scroll", "scroll KEY        press page-up, page-down, home or end on the front screen's list",
        [](Script& s, const std::string& arg) {
            using Key = kit::TableView::ScrollKey;
            const std::pair<const char*, Key> keys[] = {
                { "page-up", Key::PageUp }, { "page-down", Key::PageDown }, { "home", Key::Home }, { "end", Key::End } };
            auto it = std::find_if(std::begin(keys), std::end(keys), [&](auto& k) { return arg == k.first; });
            if (it == std::end(keys))
                throw ScriptError("usage: scroll page-up|page-down|home|end");
            auto* table = frontTable(s);
            auto* window = table->window();
            if (!window || !window->scrollFrontTable(it->second))
                throw ScriptError("there is no list to scroll on the front screen");
        });

    script.add("offset", "offset            print the front list's scroll position, its end, and whether it glides",
        [](Script& s, const std::string&) {
            auto* table = frontTable(s);
            s.out() << "offset " << table->contentOffset() << " of " << table->maximumContentOffset()
                    << (table->isGliding() ? " gliding" : "") << '\n';
        });

    script.add("movie-finish", "movie-finish [ended|error|exit]  the movie player's playback finishes (default: ended)",
        [](Script& s, const std::string& arg) {
            auto reason = kit::MovieFinishReason::PlaybackEnded;
            if (arg == "error")
                reason = kit::MovieFinishReason::PlaybackError;
            else if (arg == "exit")
                reason = kit::MovieFinishReason::UserExited;
            else if (!arg.empty() && arg != "ended")
                throw ScriptError("usage: movie-finish [ended|error|exit]");
            auto players = kit::MoviePlayerController::playingPlayers();
            if (players.empty())
                throw ScriptError("no movie is playing");
            players.back()->playbackFinished(reason);
            s.out() << "moviePlayer finished " << players.back()->contentURL() << '\n';
        });
}

} // namespace script
