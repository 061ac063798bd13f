#pragma once
// A web view: shows pages and asks its delegate (a weak link: not held, not
// asked once it has gone) before every load, whoever starts it: the controller
// (loadRequest), the user (a link, a form, back and forward) or the page
// (redirects, frames). The answer is awaited: a delegate may block in it.
//
// Delegate calls run on the main run loop, each while the view is kept alive,
// so a delegate may drop the view from its tree inside one.
#include "kit/ui/View.h"
#include "kit/web/WebEngine.h"

#include <optional>

namespace kit {

class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    virtual bool webViewShouldStartLoadWithRequest(WebView&, const URLRequest&, WebViewNavigationType) { return true; }
    virtual void webViewDidStartLoad(WebView&) { }
    virtual void webViewDidFinishLoad(WebView&) { }
    virtual void webViewDidFailLoadWithError(WebView&, const WebError&) { }
};

class WebView : public View {
public:
    using View::View;
    ~WebView() override;
    std::string className() const override { return "UIWebView"; }
    static constexpr ViewKind staticKind = ViewKind::WebView;
    ViewKind kind() const override { return staticKind; }
    // A document named by its page's title, else its address ("Web page"
    // before the first load).
    AccessibilityRole accessibilityRole() const override { return AccessibilityRole::Document; }
    std::string accessibilityName() const override;
    AccessibilityState accessibilityState() const override;
    // The title of the page, else its address.
    std::string displayText() const override;

    void setDelegate(std::weak_ptr<WebViewDelegate> delegate) { m_delegate = std::move(delegate); }
    std::shared_ptr<WebViewDelegate> delegate() const { return m_delegate.lock(); }

    // Asks the delegate (navigation type Other), then loads. A request without
    // an address fails at once with WebErrorBadURL.
    void loadRequest(const URLRequest& request);
    // Shows the page `html`; its links resolve against baseURL. The view's
    // request becomes baseURL, or "about:blank" without one.
    void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL);
    // The request of the page shown or being loaded; none before the first load.
    const std::optional<URLRequest>& request() const { return m_request; }
    bool isLoading() const { return m_loading; }
    const std::string& title() const { return m_title; }
    // Pages are zoomed out to show their whole width (off: they lay out in
    // the view's width and scroll sideways).
    void setScalesPageToFit(bool scales);
    bool scalesPageToFit() const { return m_scalesPageToFit; }

    void stopLoading();
    void reload();
    void goBack();
    void goForward();
    bool canGoBack() const;
    bool canGoForward() const;
    // Runs a script in the page. The result comes later, on the main run loop,
    // as text ("" when the script gives nothing or the engine runs no
    // scripts); completions come in the order the scripts were handed in.
    void stringByEvaluatingJavaScriptFromString(const std::string& script, std::function<void(std::string)> completion);

    // Called whenever loading, the title or the back and forward possibilities
    // change (after the delegate heard of a start, finish or failure).
    std::function<void(WebView&)> onStateChanged;

    // The engine, made on first use by the platform's factory.
    WebEngine& engine();

    // Engine entries (see WebEngine.h for their order).
    bool engineShouldStartLoad(const URLRequest& request, WebViewNavigationType type);
    void engineDidStartLoad(const URLRequest& request);
    void engineDidFinishLoad(const URLRequest& request, std::string title);
    void engineDidFailLoad(const WebError& error);
    void engineTitleChanged(std::string title);
    // The engine's back and forward possibilities changed (for displays).
    void engineHistoryChanged();

private:
    std::shared_ptr<View> keepAlive();
    void stateChanged();

    std::weak_ptr<WebViewDelegate> m_delegate;
    std::unique_ptr<WebEngine> m_engine;
    std::optional<URLRequest> m_request;
    std::string m_title;
    bool m_loading { false };
    bool m_scalesPageToFit { false };
};

} // namespace kit
