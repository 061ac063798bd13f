#pragma once
// What stands behind a WebView: the engine that fetches and shows pages. The
// view keeps the state a controller reads (current request, loading, title, history
// flags) and its delegate; an engine does the work and reports to the view
// through the view's engine entries (WebView::engineShouldStartLoad and the
// rest), in a browser's order:
//   engineShouldStartLoad (every load the page or the user starts; a "no"
//   ends it there, and nothing of it reaches the view), engineDidStartLoad,
//   then engineDidFinishLoad or engineDidFailLoad. A new load while one
//   runs fails the running one with WebErrorCancelled first. A redirect is a navigation of its own: the
//   view's delegate is asked about its target (type Other), and a "no" ends
//   the load with WebErrorCancelled.
//
// An engine is made for one view by the factory a shell installs
// (Platform::setWebEngineFactory) and is owned by that view; its link back to the
// view is a plain reference, valid for the engine's whole life.
// Without a factory a view gets an engine that fails every load.
#include "kit/core/Platform.h"
#include "kit/net/URLRequest.h"

#include <functional>
#include <memory>
#include <string>

namespace kit {

class WebView;

enum class WebViewNavigationType { LinkClicked, FormSubmitted, BackForward, Reload, FormResubmitted, Other };

const char* navigationTypeName(WebViewNavigationType type);

// Error codes of the loader's domain, as the handheld numbers them. Engines
// map their own failures onto these (WebViewErrors.h).
inline constexpr int WebErrorUnknown = -1;
inline constexpr int WebErrorCancelled = -999;
inline constexpr int WebErrorBadURL = -1000;
inline constexpr int WebErrorTimedOut = -1001;
inline constexpr int WebErrorUnsupportedURL = -1002;
inline constexpr int WebErrorCannotFindHost = -1003;
inline constexpr int WebErrorCannotConnectToHost = -1004;
inline constexpr int WebErrorNetworkConnectionLost = -1005;
inline constexpr int WebErrorHTTPTooManyRedirects = -1007;
inline constexpr int WebErrorResourceUnavailable = -1008;
inline constexpr int WebErrorNotConnectedToInternet = -1009;
inline constexpr int WebErrorNoEngine = -1011; // no engine installed
inline constexpr int WebErrorBadServerResponse = -1011;
inline constexpr int WebErrorFileDoesNotExist = -1100;
inline constexpr int WebErrorFileIsDirectory = -1101;
inline constexpr int WebErrorDataLengthExceedsMaximum = -1103;
inline constexpr int WebErrorSecureConnectionFailed = -1200;
inline constexpr int WebErrorServerCertificateHasBadDate = -1201;
inline constexpr int WebErrorServerCertificateUntrusted = -1202;
inline constexpr int WebErrorServerCertificateHasUnknownRoot = -1203;
inline constexpr int WebErrorServerCertificateNotYetValid = -1204;
inline constexpr int WebErrorCannotCreateFile = -3000;
inline constexpr int WebErrorCannotOpenFile = -3001;
inline constexpr int WebErrorCannotCloseFile = -3002;
inline constexpr int WebErrorCannotWriteToFile = -3003;
inline constexpr int WebErrorCannotRemoveFile = -3004;
inline constexpr int WebErrorCannotMoveFile = -3005;

// The scheme through which the ad service's pages talk to the application:
// its navigations reach the decision and are never loaded.
inline constexpr const char* appMessageScheme = "adlark";

// Whether an engine shows pages of this scheme (http, https, about, data,
// file). Navigations to any other scheme (mail, telephone, another program's,
// "adlark") are asked about like every navigation and then end there: they
// are the delegate's to hand over, never loaded and never reported as failed.
bool webEngineShowsScheme(const std::string& scheme);

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
    // The view's "scales pages to fit" changed; from the next page on.
    virtual void setScalesPageToFit(bool) { }
};

// The engine a view gets without a factory (or from one that gives none):
// every load fails with WebErrorNoEngine.
std::unique_ptr<WebEngine> makeNoWebEngine(WebView& view);

// WebEngineFactory, what makes an engine for a view, is declared with the
// platform that holds it (kit/core/Platform.h).

} // namespace kit
