#pragma once
// What stands behind a WebView: the engine that fetches and shows pages. The
// view keeps the state a controller reads (current request, loading, title, history
// flags) and its delegate; an engine does the work and reports to the view
// through the view's engine entries (WebView::engineShouldStartLoad and the
// rest), in a browser's order:
//   engineShouldStartLoad (every load the page or the user starts; a "no"
//   ends it there), engineDidStartLoad, then engineDidFinishLoad or
//   engineDidFailLoad. A new load while one runs fails the running one with
//   WebErrorCancelled first.
//
// An engine is made for one view by the factory a shell installs
// (WebView::setEngineFactory) and is owned by that view; its link back to the
// view is a plain reference, valid for the engine's whole life.
// Without a factory a view gets an engine that fails every load.
#include "kit/URLRequest.h"

#include <functional>
#include <memory>
#include <string>

namespace kit {

class WebView;

enum class WebViewNavigationType { LinkClicked, FormSubmitted, BackForward, Reload, FormResubmitted, Other };

const char* navigationTypeName(WebViewNavigationType type);

// Error codes of the loader's domain, as the handheld numbers them.
inline constexpr int WebErrorUnknown = -1;
inline constexpr int WebErrorCancelled = -999;
inline constexpr int WebErrorBadURL = -1000;
inline constexpr int WebErrorTimedOut = -1001;
inline constexpr int WebErrorUnsupportedURL = -1002;
inline constexpr int WebErrorCannotConnectToHost = -1004;
inline constexpr int WebErrorNoEngine = -1011;

struct WebError {
    int code { WebErrorUnknown };
    std::string description;
};

class WebEngine {
public:
    virtual ~WebEngine() = default;

    // Starts loading a request the view has already let through
    // (the view asked its delegate for loads it starts itself).
    virtual void load(const URLRequest& request) = 0;
    // Shows a page given as text (asked about nothing: the caller chose it),
    // reported to the view as a load of `request`, in the same order.
    virtual void loadHTMLString(const std::string& html, const URLRequest& request) = 0;
    virtual void stopLoading() = 0;
    virtual void reload() = 0;
    virtual void goBack() = 0;
    virtual void goForward() = 0;
    virtual bool canGoBack() const = 0;
    virtual bool canGoForward() const = 0;
    // Runs a script in the page; the completion gets its result as text
    // ("" when there is none) on the main run loop, never from inside this call.
    virtual void evaluateJavaScript(const std::string& script, std::function<void(std::string)> completion) = 0;
};

using WebEngineFactory = std::function<std::unique_ptr<WebEngine>(WebView&)>;

} // namespace kit
