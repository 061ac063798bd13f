#pragma once
// The web engine of the headless shell and of tests: fetches the main document
// over HTTP (kit's HttpRequest, so host mappings apply), takes the page's
// title and links from it, and keeps a history. It runs no scripts; what a
// script answers is modelled:
//   "document.title"  the page's title;
//   "typeof(NAME)"    "undefined" unless a script of the page declares a
//                     global NAME ("var NAME", "let NAME", "const NAME":
//                     "object"; "function NAME": "function");
//   anything else     "".
// Every script handed in is kept (evaluatedScripts), so tests can read what a
// page was called with. Sub-resources (pictures, style sheets, frames) are not
// fetched. Each redirect is a navigation of its own that the delegate is asked
// about; "about:" addresses show an empty page; "file:" addresses are read
// from disk. Failures carry the loader's codes, mapped from curl's.
//
// A click on a link is navigate(request, LinkClicked): the view's delegate is
// asked first, as for every other load.
#include "kit/net/HttpRequest.h"
#include "kit/web/WebEngine.h"

#include <cstddef>
#include <vector>

namespace kit {

struct WebLink {
    std::string text; // what the link shows, tags stripped, blanks collapsed
    URL url;          // resolved against the page's address
};

class HeadlessWebEngine final : public WebEngine {
public:
    // A page body beyond this fails the load as too large (-1103): a server
    // that sends without end must not fill the memory while the time-out runs.
    static constexpr size_t pageSizeLimit = 16u << 20;

    // For Platform::setWebEngineFactory.
    static WebEngineFactory factory();

    explicit HeadlessWebEngine(WebView& view) : m_view(view) { }
    ~HeadlessWebEngine() override;

    void load(const URLRequest& request) override;
    void loadHTMLString(const std::string& html, const URLRequest& request) override;
    void stopLoading() override;
    void reload() override;
    void goBack() override;
    void goForward() override;
    bool canGoBack() const override { return m_index > 0; }
    bool canGoForward() const override { return m_index >= 0 && m_index + 1 < int(m_history.size()); }
    void evaluateJavaScript(const std::string& script, std::function<void(std::string)> completion) override;
    // Recorded only: pages are not laid out here.
    void setScalesPageToFit(bool scales) override { m_scalesPageToFit = scales; }
    bool scalesPageToFit() const { return m_scalesPageToFit; }

    // A load the page starts (a link, a form): asks the delegate, then loads.
    void navigate(const URLRequest& request, WebViewNavigationType type);

    // The page shown (the last load that finished).
    const std::vector<WebLink>& links() const { return m_links; }
    const std::string& document() const { return m_document; }
    const std::vector<URLRequest>& history() const { return m_history; }
    const std::vector<std::string>& evaluatedScripts() const { return m_scripts; }
    int historyIndex() const { return m_index; }

    // Page reading, shared with tests.
    static std::string titleOf(const std::string& html);
    static std::vector<WebLink> linksOf(const std::string& html, const URL& base);

private:
    // historyIndex: where a back/forward/reload load lands; -1 for a new entry.
    void start(const URLRequest& request, int historyIndex);
    void cancelRunning();
    void finished();
    void show(std::string document);
    void failLater(int code, std::string description);
    void finishLocally(const URLRequest& request, int historyIndex, std::string document);
    void fetch(const std::string& url);
    void redirected(const std::string& location);

    WebView& m_view;
    std::shared_ptr<HttpRequest> m_http;
    URLRequest m_pending;
    int m_pendingIndex { -1 };
    std::string m_body;
    std::vector<URLRequest> m_history;
    int m_index { -1 };
    std::string m_document;
    std::string m_title;
    std::vector<WebLink> m_links;
    std::vector<std::string> m_scripts;
    int m_redirects { 0 };
    bool m_localPending { false };
    bool m_scalesPageToFit { false };
    uint64_t m_localSerial { 0 };
    // Cancels posted reports when the engine goes.
    std::shared_ptr<bool> m_alive { std::make_shared<bool>(true) };
};

} // namespace kit
