// Script commands for web views: what the front web view shows, its links,
// following a link as a click would, back, forward, reload, stop, and waiting
// for a load to end.
#include "shells/script/Script.h"

#include "kit/ui/Application.h"
#include "kit/web/HeadlessWebEngine.h"
#include "kit/web/WebView.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>
#include <sstream>

namespace script {

namespace {

kit::WebView* findWebView(kit::View& v)
{
    if (v.isHidden() || v.alpha() < 0.01f)
        return nullptr;
    auto& subs = v.subviews();
    for (auto it = subs.rbegin(); it != subs.rend(); ++it)
        if (auto* found = findWebView(**it))
            return found;
    return dynamic_cast<kit::WebView*>(&v);
}

kit::WebView& frontWebView(Script& s)
{
    if (auto* popup = s.app().frontPopup())
        throw ScriptError(std::string("a ") + popup->className() + " (\"" + popup->title() + "\") is in front; answer it first");
    auto* view = findWebView(s.frontScreen());
    if (!view)
        throw ScriptError("there is no web view on the front screen");
    return *view;
}

kit::HeadlessWebEngine* headlessEngine(kit::WebView& view)
{
    return dynamic_cast<kit::HeadlessWebEngine*>(&view.engine());
}

// Runs a script in the page and waits for its answer (an engine that runs
// scripts: the window's).
std::string evaluate(Script& s, kit::WebView& view, const std::string& javaScript)
{
    auto answer = std::make_shared<std::optional<std::string>>();
    view.stringByEvaluatingJavaScriptFromString(javaScript, [answer](std::string result) { *answer = std::move(result); });
    if (!s.runUntil([&] { return answer->has_value(); }, 10))
        throw ScriptError("the page did not answer a script within 10 s");
    return answer->value_or("");
}

// Text as a string literal of the page's script language.
std::string scriptString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            out += std::string("\\") + char(c);
        else if (c < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else
            out += char(c);
    }
    return out + "\"";
}

// The links of the page shown: the headless engine read them from the page;
// an engine that runs scripts is asked (text with blanks collapsed, address
// resolved), one "TEXT<tab>ADDRESS" line each.
std::vector<kit::WebLink> pageLinks(Script& s, kit::WebView& view)
{
    if (auto* engine = headlessEngine(view))
        return engine->links();
    auto lines = evaluate(s, view,
        "Array.from(document.links).map(a => (a.textContent || '').replace(/\\s+/g, ' ').trim().replace(/\\t/g, ' ')"
        " + '\\t' + a.href).join('\\n')");
    std::vector<kit::WebLink> links;
    std::istringstream in(lines);
    std::string line;
    while (std::getline(in, line)) {
        auto tab = line.rfind('\t');
        if (tab == std::string::npos)
            continue;
        if (auto url = kit::URL::withString(line.substr(tab + 1)))
            links.push_back({ line.substr(0, tab), *url });
    }
    return links;
}

// Follows a link of the page (its index in pageLinks) as a click would.
void click(Script& s, kit::WebView& view, const std::vector<kit::WebLink>& links, size_t index)
{
    if (auto* engine = headlessEngine(view)) {
        engine->navigate(kit::URLRequest::requestWithURL(links[index].url), kit::WebViewNavigationType::LinkClicked);
        return;
    }
    evaluate(s, view, "document.links[" + std::to_string(index) + "].click(); ''");
}

const char* yesNo(bool b) { return b ? "yes" : "no"; }

} // namespace

void addWebCommands(Script& script)
{
    script.add("web", "web               print the front web view's address, title and state", [](Script& s, const std::string&) {
        auto& view = frontWebView(s);
        s.out() << "web " << (view.request() ? view.request()->absoluteString() : std::string("(none)")) << " title=\"" << view.title()
                << "\" loading=" << yesNo(view.isLoading()) << " back=" << yesNo(view.canGoBack())
                << " forward=" << yesNo(view.canGoForward()) << '\n';
    });

    script.add("links", "links             print the links of the front web view's page", [](Script& s, const std::string&) {
        auto links = pageLinks(s, frontWebView(s));
        for (size_t i = 0; i < links.size(); ++i)
            s.out() << i << ": \"" << links[i].text << "\" " << links[i].url.absoluteString() << '\n';
    });

    script.add("link", "link TEXT         follow the page's link showing TEXT (exactly, else the first containing it)",
        [](Script& s, const std::string& text) {
            if (text.empty())
                throw ScriptError("usage: link TEXT");
            auto& view = frontWebView(s);
            auto links = pageLinks(s, view);
            auto chosen = std::find_if(links.begin(), links.end(), [&](auto& link) { return link.text == text; });
            if (chosen == links.end())
                chosen = std::find_if(links.begin(), links.end(), [&](auto& link) { return link.text.find(text) != std::string::npos; });
            if (chosen == links.end())
                throw ScriptError("the page has no link showing \"" + text + "\"");
            click(s, view, links, size_t(chosen - links.begin()));
        });

    script.add("follow", "follow URL        follow URL (relative to the page) as a click on a link would",
        [](Script& s, const std::string& address) {
            if (address.empty())
                throw ScriptError("usage: follow URL");
            auto& view = frontWebView(s);
            auto url = view.request() && view.request()->url() ? kit::URL::withStringRelativeTo(address, *view.request()->url())
                                                              : kit::URL::withString(address);
            if (!url)
                throw ScriptError("\"" + address + "\" is not an address");
            if (auto* engine = headlessEngine(view)) {
                engine->navigate(kit::URLRequest::requestWithURL(*url), kit::WebViewNavigationType::LinkClicked);
                return;
            }
            // A link of our own in the page, clicked.
            evaluate(s, view,
                "(function () { const a = document.createElement('a'); a.href = " + scriptString(url->absoluteString())
                    + "; document.body.appendChild(a); a.click(); a.remove(); return ''; })()");
        });

    script.add("back", "back              go back in the front web view", [](Script& s, const std::string&) {
        auto& view = frontWebView(s);
        if (!view.canGoBack())
            throw ScriptError("the web view cannot go back");
        view.goBack();
    });

    script.add("forward", "forward           go forward in the front web view", [](Script& s, const std::string&) {
        auto& view = frontWebView(s);
        if (!view.canGoForward())
            throw ScriptError("the web view cannot go forward");
        view.goForward();
    });

    script.add("reload", "reload            reload the front web view's page", [](Script& s, const std::string&) {
        frontWebView(s).reload();
    });

    script.add("stop", "stop              stop the front web view's load", [](Script& s, const std::string&) {
        frontWebView(s).stopLoading();
    });

    script.add("loaded", "loaded [SECONDS]  run until the front web view's load ends (default 60 s real time)",
        [](Script& s, const std::string& arg) {
            double limit = arg.empty() ? 60 : parseNumber(arg, "the time limit");
            auto& view = frontWebView(s);
            auto keep = view.weak_from_this();
            // The window's engine reports a load only once its process has
            // begun it: a load just asked for (a tab just shown, a link just
            // clicked) gets a moment to begin.
            if (!headlessEngine(view) && !view.isLoading())
                s.runUntil([&] { return keep.expired() || view.isLoading(); }, std::min(limit, 3.0));
            bool ok = s.runUntil([&] {
                auto alive = keep.lock();
                return !alive || !view.isLoading();
            }, limit);
            if (!ok)
                throw ScriptError("the page did not finish loading within " + std::to_string(int(limit)) + " s");
        });
}

} // namespace script
