#pragma once
// kit's web engine on QtWebEngine. The engine owns a QWebEnginePage; the
// web view's peer shows that page in a QWebEngineView while the view is on
// screen. Every navigation the page starts (links, forms, redirects, frames,
// back and forward) passes through the page's navigation-request hook to the
// kit view's delegate; loads the controller starts were asked about already.
//
// Host mappings (QUORVANE_CONNECT_TO) become the web engine's host resolver
// rules, set before the first page is made. The application's message scheme
// ("adlark") is registered before the application object exists
// (registerSchemes), so that its navigations reach the decision like any
// other; they are never loaded (a stray sub-resource of it is refused).
//
// Navigations to addresses the engine does not show (mail, telephone, the
// store's, the message scheme) are asked about and go no further: the view
// hears neither a start nor an end of them. A message-scheme link written in
// another case ("ADLARK:") reaches the decision as the page wrote it: a
// script of the engine's own world sees the click first, since the engine
// itself lowercases every scheme (a page script's own assignment to its
// location it cannot see, and that reaches the decision lowercased).
//
// A failed load leaves the page that was shown before: the engine commits a
// blank page for the failure (the engine's own error pages are off), goes
// back to the page shown, and only then reports the failure, with that
// page's title. The failed address stays in the engine's history as the
// entry after it, which back and forward pass over.
//
// With "scales pages to fit", each page that has loaded is zoomed out until
// its content's width fits the view (never in, never below a quarter).
//
// Load failures carry the loader's codes (kit/web/WebViewErrors.h). A request's
// time-out stops a load that runs too long and reports WebErrorTimedOut; a
// cache policy other than the protocol's asks the server for a fresh page.
//
// This is the web module's (libquorvane-web.so, see Modules.h). The page (and
// with it the web engine's start) waits for the window's first frame; a load asked for before then is held and made once the page exists.
//
// A page nobody sees (its view hidden, gone with its tab, or the window
// closed) is let go after pageReleaseDelay seconds on kit's clock: frozen,
// then discarded, as far as the engine's own recommendation allows (a page
// still loading or playing sound is let go once it stops). Its address,
// title and history stay; seen again, or loaded, it is active again (a
// discarded page reloads). With no page left, the renderer process ends.
#include "shells/qt/Modules.h"

#include "kit/core/Timer.h"

#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace qtshell {

class QtWebEngine final : public ShownWebEngine {
public:
    explicit QtWebEngine(kit::WebView& view);
    ~QtWebEngine() override;

    void load(const kit::URLRequest& request) override;
    void loadHTMLString(const std::string& html, const kit::URLRequest& request) override;
    void stopLoading() override;
    void reload() override;
    void goBack() override;
    void goForward() override;
    bool canGoBack() const override;
    bool canGoForward() const override;
    void evaluateJavaScript(const std::string& script, std::function<void(std::string)> completion) override;
    void setScalesPageToFit(bool scales) override;
    void whenViewReady(std::function<void(QWidget*)> ready) override;
    void parkView(QWidget* view) override;

    QWebEnginePage* page() const { return m_page; }
    // How long a page may go unseen before it is let go.
    static constexpr double pageReleaseDelay = 60;
    // Runs now if the page exists, else once it has been made.
    void whenPageReady(std::function<void(QWebEnginePage*)> ready);
    // The page's one view, made with it and kept as long as the page: the
    // peer on screen adopts it, and hands it back (parkView) when it goes.
    // A new view for the same page would leave the web engine's accessible
    // objects pointing at the view they first knew, which a screen reader
    // then reaches after it has gone.
    QWebEngineView* pageView() const;
    static void park(QWebEngineView* view);

    // The Chromium flags for the environment's host mappings (and the
    // sandbox, which cannot run as root), added to QTWEBENGINE_CHROMIUM_FLAGS.
    static std::string chromiumFlags();
    // Whether the engine may print its own diagnostics (off: errors only).
    static void setVerbose(bool verbose);
    static void prepareEnvironment();
    // Before the engine starts (prepareEnvironment does it).
    static void registerSchemes();

private:
    class Page;
    friend class Page;
    void createPage();
    // The page's view was shown or hidden (or went).
    void seenChanged(bool seen);
    // Lets the unseen page go as far as the engine recommends.
    void releasePage();
    // A script or a load wants the page as it was.
    void activatePage();
    void stopTimeout();
    void loadingChanged(const QWebEngineLoadingInfo& info);
    // After a failure: back to the page shown, if the failure replaced it.
    bool restoreShownPage();
    void reportHeldFailure();
    void fitPageWidth();
    // The history entry a failure left behind, which back and forward skip.
    bool isFailedEntry(int index) const;
    int nextEntry(int step) const;

    kit::WebView& m_view;
    QPointer<QWebEnginePage> m_page;
    // The next typed navigation is the controller's own load, already let through.
    bool m_loadApproved { false };
    bool m_loading { false };
    bool m_timedOut { false };
    // Navigations refused by the decision, whose start and stop the page still reports.
    std::vector<QUrl> m_refused;
    QPointer<QTimer> m_timeout;
    // Counts the unseen time; once it has run out, the page follows the engine's recommendation down.
    std::shared_ptr<kit::Timer> m_release;
    bool m_releaseDue { false };
    std::optional<kit::URLRequest> m_pendingLoad;
    std::optional<std::string> m_pendingHtml; // with m_pendingLoad: a page given as text
    // What a page given as text is reported as (the engine itself calls it a data: address).
    std::optional<kit::URLRequest> m_htmlRequest;
    std::vector<std::function<void(QWebEnginePage*)>> m_pageReady;
    bool m_scalesPageToFit { false };
    QUrl m_document; // the page's address less its fragment
    // The history entry of the page shown last (-1: none yet).
    int m_shownIndex { -1 };
    QUrl m_shownUrl;
    // Going back to it after a failure, whose report waits for the way back.
    bool m_restoring { false };
    std::optional<kit::WebError> m_heldFailure;
    int m_failedIndex { -1 };
    QUrl m_failedUrl;
    std::shared_ptr<bool> m_alive { std::make_shared<bool>(true) };
};

} // namespace qtshell
