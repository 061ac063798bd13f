#include "ads/landing/AdlarkCanvasWebView.h"

#include "ads/AdlarkService.h"

#include "kit/ui/ActivityIndicatorView.h"
#include "kit/ui/Application.h"
#include "kit/core/WeakBind.h"
#include "kit/net/URLEscape.h"

namespace {

constexpr std::string_view messageScheme = "adlark:";

} // namespace

std::string AdlarkCanvasWebView::canvasPageAddress()
{
    return std::string(adlark::mediaHostURL) + "/static/iphone/canvas.html";
}

AdlarkCanvasWebView::AdlarkCanvasWebView(kit::Rect frame)
    : kit::WebView(frame)
{
}

void AdlarkCanvasWebView::setCanvasUrl(const kit::URL& url)
{
    m_canvasUrl = kit::URL::withString(url.absoluteString() + "#sdk");
}

void AdlarkCanvasWebView::startLoadingCanvas()
{
    // Its own delegate, by a weak link (made once it is shared: not in the constructor).
    setDelegate(kit::weakAs(*this, static_cast<kit::WebViewDelegate*>(this)));
    loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString(canvasPageAddress()),
        kit::URLRequestCachePolicy::ReloadIgnoringLocalAndRemoteCacheData, canvasTimeout));
    const float w = frame().width(), h = frame().height();
    auto indicator = kit::View::create<kit::ActivityIndicatorView>(
        kit::Rect { (w - 20) * 0.5f, (h - 20) * 0.5f, 20, 20 }, kit::ActivityIndicatorViewStyle::Gray);
    indicator->setTag(indicatorTag);
    indicator->startAnimating();
    addSubview(indicator);
}

// Split at every "&"; a piece needs an "=" after at least one character of
// key; key and value lose their percent escapes (ASCII only: a piece whose
// escapes give other bytes is left out); a later key replaces an earlier one.
std::map<std::string, std::string> AdlarkCanvasWebView::dictionaryWithQueryString(const std::string& query)
{
    std::map<std::string, std::string> out;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        std::string_view piece(query.data() + start, end - start);
        start = end + 1;
        auto eq = piece.find('=');
        if (eq == std::string_view::npos || eq == 0)
            continue;
        auto key = kit::percentDecode(piece.substr(0, eq));
        auto value = kit::percentDecode(piece.substr(eq + 1));
        auto ascii = [](const std::string& s) {
            for (unsigned char c : s)
                if (c >= 0x80)
                    return false;
            return true;
        };
        if (!ascii(key) || !ascii(value))
            continue;
        out[key] = value;
    }
    return out;
}

std::string AdlarkCanvasWebView::scriptStringLiteral(const std::string& text)
{
    std::string out = "'";
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '\'': out += "\\'"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '<': out += "\\x3C"; break; // no "</script>" or "<!--" can form
        case '>': out += "\\x3E"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                static const char* hex = "0123456789ABCDEF";
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80
                && (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
                // U+2028 and U+2029 end a line inside a script.
                out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
                i += 2;
            } else {
                out += char(c);
            }
        }
    }
    return out + "'";
}

std::string AdlarkCanvasWebView::callbackScript() const
{
    std::string address = m_canvasUrl ? m_canvasUrl->absoluteString() : std::string();
    return "cb(" + scriptStringLiteral(address) + ", " + scriptStringLiteral(m_canvasTitle) + ")";
}

void AdlarkCanvasWebView::webviewIsFromAdlark(std::function<void(bool)> answer)
{
    stringByEvaluatingJavaScriptFromString("typeof(adlark)", [answer = std::move(answer)](std::string type) {
        if (answer)
            answer(std::string_view(type) != std::string_view("undefined"));
    });
}

void AdlarkCanvasWebView::dismiss()
{
    if (auto close = dismissSelector)
        close();
}

void AdlarkCanvasWebView::launch(const std::map<std::string, std::string>& parameters)
{
    auto it = parameters.find("url");
    if (it == parameters.end())
        return;
    auto url = kit::URL::withString(it->second);
    // Nothing to open, or a file of this device named by the ad server.
    if (!url || url->scheme().empty() || url->scheme() == "file")
        return;
    if (kit::Application::exists())
        kit::Application::shared().handOverURL(url->absoluteString());
}

bool AdlarkCanvasWebView::webViewShouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest& request, kit::WebViewNavigationType)
{
    const std::string address = request.absoluteString();
    // The scheme is compared exactly, case and all.
    if (!request.url() || address.compare(0, messageScheme.size(), messageScheme) != 0)
        return true;
    auto keep = weak_from_this().lock();
    const std::string command = request.url()->host();
    if (command == "launch")
        launch(dictionaryWithQueryString(request.url()->query()));
    else if (command == "closecanvas")
        dismiss();
    return false;
}

void AdlarkCanvasWebView::webViewDidFinishLoad(kit::WebView&)
{
    if (!m_initialLoad || m_checking)
        return;
    if (auto* indicator = viewWithTag(indicatorTag))
        indicator->removeFromSuperview();
    m_checking = true;
    std::weak_ptr<kit::View> weak = weak_from_this();
    webviewIsFromAdlark([weak](bool fromAdlark) {
        auto self = std::dynamic_pointer_cast<AdlarkCanvasWebView>(weak.lock());
        if (!self)
            return;
        self->m_checking = false;
        if (!self->m_initialLoad)
            return;
        if (!fromAdlark) {
            // Some other page: initialLoad stays set, so a later load may still close.
            self->dismiss();
            return;
        }
        self->stringByEvaluatingJavaScriptFromString(self->callbackScript(), nullptr);
        self->m_initialLoad = false;
    });
}

void AdlarkCanvasWebView::webViewDidFailLoadWithError(kit::WebView&, const kit::WebError&)
{
    if (m_initialLoad)
        dismiss();
}
