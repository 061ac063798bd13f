#include "kit/web/WebView.h"

#include "kit/core/Platform.h"
#include "kit/core/RunLoop.h"

namespace kit {

namespace {

// Stands in when no shell installed an engine: every load fails, visibly.
class NoWebEngine final : public WebEngine {
public:
    explicit NoWebEngine(WebView& view) : m_view(view) { }
    void load(const URLRequest& request) override
    {
        m_view.engineDidStartLoad(request);
        std::weak_ptr<View> weak = m_view.weak_from_this();
        RunLoop::main().post([weak] {
            if (auto view = std::dynamic_pointer_cast<WebView>(weak.lock()); view && view->isLoading())
                view->engineDidFailLoad({ WebErrorNoEngine, "no web engine is installed" });
        });
    }
    void loadHTMLString(const std::string&, const URLRequest& request) override { load(request); }
    void stopLoading() override { }
    void reload() override { }
    void goBack() override { }
    void goForward() override { }
    bool canGoBack() const override { return false; }
    bool canGoForward() const override { return false; }
    void evaluateJavaScript(const std::string&, std::function<void(std::string)> completion) override
    {
        if (completion)
            RunLoop::main().post([completion = std::move(completion)] { completion({}); });
    }

private:
    WebView& m_view;
};

} // namespace

std::unique_ptr<WebEngine> makeNoWebEngine(WebView& view)
{
    return std::make_unique<NoWebEngine>(view);
}

bool webEngineShowsScheme(const std::string& scheme)
{
    return scheme == "http" || scheme == "https" || scheme == "about" || scheme == "data" || scheme == "file";
}

const char* navigationTypeName(WebViewNavigationType type)
{
    switch (type) {
    case WebViewNavigationType::LinkClicked: return "link";
    case WebViewNavigationType::FormSubmitted: return "form";
    case WebViewNavigationType::BackForward: return "back-forward";
    case WebViewNavigationType::Reload: return "reload";
    case WebViewNavigationType::FormResubmitted: return "form-resubmitted";
    case WebViewNavigationType::Other: return "other";
    }
    return "other";
}

WebView::~WebView()
{
    // The engine may report while it winds down; nobody is listening now.
    m_delegate.reset();
    m_engine.reset();
}

std::string WebView::displayText() const
{
    if (!m_title.empty())
        return m_title;
    return m_request ? m_request->absoluteString() : std::string();
}

WebEngine& WebView::engine()
{
    if (!m_engine) {
        if (auto& factory = Platform::current().webEngineFactory())
            m_engine = factory(*this);
        if (!m_engine)
            m_engine = std::make_unique<NoWebEngine>(*this);
    }
    return *m_engine;
}

std::shared_ptr<View> WebView::keepAlive()
{
    return weak_from_this().lock();
}

void WebView::loadRequest(const URLRequest& request)
{
    auto keep = keepAlive();
    if (!request.url()) {
        // Nothing to ask about: the loader refuses such a request later, on the loop.
        std::weak_ptr<View> weak = weak_from_this();
        RunLoop::main().post([weak] {
            if (auto view = std::dynamic_pointer_cast<WebView>(weak.lock()))
                view->engineDidFailLoad({ WebErrorBadURL, "bad URL" });
        });
        return;
    }
    if (!engineShouldStartLoad(request, WebViewNavigationType::Other))
        return;
    engine().load(request);
}

void WebView::loadHTMLString(const std::string& html, const std::optional<URL>& baseURL)
{
    auto keep = keepAlive();
    auto url = baseURL ? baseURL : URL::withString("about:blank");
    engine().loadHTMLString(html, URLRequest::requestWithURL(url));
}

void WebView::setScalesPageToFit(bool scales)
{
    if (m_scalesPageToFit == scales)
        return;
    m_scalesPageToFit = scales;
    engine().setScalesPageToFit(scales);
}

void WebView::stopLoading() { engine().stopLoading(); }
void WebView::reload() { engine().reload(); }
void WebView::goBack() { engine().goBack(); }
void WebView::goForward() { engine().goForward(); }
bool WebView::canGoBack() const { return m_engine && m_engine->canGoBack(); }
bool WebView::canGoForward() const { return m_engine && m_engine->canGoForward(); }

void WebView::stringByEvaluatingJavaScriptFromString(const std::string& script, std::function<void(std::string)> completion)
{
    engine().evaluateJavaScript(script, std::move(completion));
}

bool WebView::engineShouldStartLoad(const URLRequest& request, WebViewNavigationType type)
{
    auto keep = keepAlive();
    auto delegate = m_delegate.lock();
    bool answer = !delegate || delegate->webViewShouldStartLoadWithRequest(*this, request, type);
    // Other programs' addresses were the delegate's to hand over; never loaded here.
    return answer && (!request.url() || webEngineShowsScheme(request.url()->scheme()));
}

void WebView::stateChanged()
{
    if (auto callback = onStateChanged)
        callback(*this);
}

void WebView::engineDidStartLoad(const URLRequest& request)
{
    auto keep = keepAlive();
    // Another program's address was asked about and refused: it never
    // becomes the page's request, and nothing loads.
    if (request.url() && !webEngineShowsScheme(request.url()->scheme()))
        return;
    m_request = request;
    m_loading = true;
    changed(ViewProperty::Content);
    if (auto delegate = m_delegate.lock())
        delegate->webViewDidStartLoad(*this);
    stateChanged();
}

void WebView::engineDidFinishLoad(const URLRequest& request, std::string title)
{
    auto keep = keepAlive();
    m_request = request;
    m_title = std::move(title);
    m_loading = false;
    changed(ViewProperty::Content);
    if (auto delegate = m_delegate.lock())
        delegate->webViewDidFinishLoad(*this);
    stateChanged();
}

void WebView::engineDidFailLoad(const WebError& error)
{
    auto keep = keepAlive();
    m_loading = false;
    changed(ViewProperty::Content);
    if (auto delegate = m_delegate.lock())
        delegate->webViewDidFailLoadWithError(*this, error);
    stateChanged();
}

void WebView::engineTitleChanged(std::string title)
{
    if (m_title == title)
        return;
    m_title = std::move(title);
    changed(ViewProperty::Content);
    stateChanged();
}

void WebView::engineHistoryChanged()
{
    changed(ViewProperty::Content);
    stateChanged();
}

std::string WebView::accessibilityName() const
{
    auto shown = displayText();
    return labelOr(shown.empty() ? "Web page" : shown);
}

AccessibilityState WebView::accessibilityState() const
{
    AccessibilityState state;
    state.busy = m_loading;
    state.readOnly = true;
    return state;
}

} // namespace kit
