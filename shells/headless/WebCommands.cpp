// Script commands for web views: what the front web view shows, its links,
// following a link as a click would, back, forward, reload, stop, and waiting
// for a load to end.
#include "shells/headless/Script.h"

#include "kit/Application.h"
#include "kit/HeadlessWebEngine.h"
#include "kit/WebView.h"

#include <ostream>

namespace headless {

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

kit::HeadlessWebEngine& engineOf(kit::WebView& view)
{
    auto* engine = dynamic_cast<kit::HeadlessWebEngine*>(&view.engine());
    if (!engine)
        throw ScriptError("the web view has no headless web engine");
    return *engine;
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
        auto& links = engineOf(frontWebView(s)).links();
        for (size_t i = 0; i < links.size(); ++i)
            s.out() << i << ": \"" << links[i].text << "\" " << links[i].url.absoluteString() << '\n';
    });

    script.add("link", "link TEXT         follow the page's link showing TEXT (exactly, else the first containing it)",
        [](Script& s, const std::string& text) {
            if (text.empty())
                throw ScriptError("usage: link TEXT");
            auto& view = frontWebView(s);
            auto& engine = engineOf(view);
            const kit::WebLink* chosen = nullptr;
            for (auto& link : engine.links())
                if (link.text == text) {
                    chosen = &link;
                    break;
                }
            if (!chosen)
                for (auto& link : engine.links())
                    if (link.text.find(text) != std::string::npos) {
                        chosen = &link;
                        break;
                    }
            if (!chosen)
                throw ScriptError("the page has no link showing \"" + text + "\"");
            auto request = kit::URLRequest::requestWithURL(chosen->url);
            engine.navigate(request, kit::WebViewNavigationType::LinkClicked);
        });

    script.add("follow", "follow URL        follow URL (relative to the page) as a click on a link would",
        [](Script& s, const std::string& address) {
            if (address.empty())
                throw ScriptError("usage: follow URL");
            auto& view = frontWebView(s);
            auto& engine = engineOf(view);
            auto url = view.request() && view.request()->url() ? kit::URL::withStringRelativeTo(address, *view.request()->url())
                                                              : kit::URL::withString(address);
            if (!url)
                throw ScriptError("\"" + address + "\" is not an address");
            engine.navigate(kit::URLRequest::requestWithURL(*url), kit::WebViewNavigationType::LinkClicked);
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
            bool ok = s.runUntil([&] {
                auto alive = keep.lock();
                return !alive || !view.isLoading();
            }, limit);
            if (!ok)
                throw ScriptError("the page did not finish loading within " + std::to_string(int(limit)) + " s");
        });
}

} // namespace headless
