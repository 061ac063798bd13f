#pragma once
// A web view: shows pages and asks its delegate (not held; the owner clears it
// before letting the view go) before every load, whoever starts it: the controller
// (loadRequest), the user (a link, a form, back and forward) or the page
// (redirects, frames). The answer is awaited: a delegate may block in it.
//
// Delegate calls run on the main run loop, each while the view is kept alive,
// so a delegate may drop the view from its tree inside one.
#include "kit/View.h"
#include "kit/WebEngine.h"

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
    // The title of the page, else its address.
    std::string displayText() const override;

    void setDelegate(WebViewDelegate* delegate) { m_delegate = delegate; }
    WebViewDelegate* delegate() const { return m_delegate; }

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

    void stopLoading();
    void reload();
    void goBack();
    void goForward();
    bool canGoBack() const;
    bool canGoForward() const;
    void stringByEvaluatingJavaScriptFromString(const std::string& script, std::function<void(std::string)> completion);

    // Engines.
    static void setEngineFactory(WebEngineFactory factory);
    static const WebEngineFactory& engineFactory();
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

    WebViewDelegate* m_delegate { nullptr };
    std::unique_ptr<WebEngine> m_engine;
    std::optional<URLRequest> m_request;
    std::string m_title;
    bool m_loading { false };
};

} // namespace kit
