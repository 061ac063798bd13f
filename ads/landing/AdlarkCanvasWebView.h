#pragma once
// The canvas panel: a web view (its own delegate) that loads the ad
// service's fixed canvas page, and once it has loaded hands the page the ad's
// canvas address (with the fragment "sdk") and title by calling its function
// `cb`. The page talks back by navigating to "adlark" addresses, which are
// never loaded: "adlark://launch?url=ADDRESS" hands ADDRESS to the system
// (the panel stays open), "adlark://closecanvas" closes the panel, any other
// command is ignored.
//
// The address and the title go into the script as JavaScript string literals
// with every quote, backslash, line break, U+2028/U+2029 and "</" escaped, so
// that any title reaches the page intact and nothing from the ad server runs
// as code. "launch" does nothing without a usable address, and never hands a
// "file" address to the system.
//
// The first load decides: the panel closes when it fails, or when the page
// that loaded has no global `adlark`. Later failures are ignored.
//
// Ownership: the controller is not held; dismissSelector reaches it through a
// weak reference that the controller gives.
#include "kit/net/URL.h"
#include "kit/web/WebView.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

class AdlarkCanvasWebView : public kit::WebView, private kit::WebViewDelegate {
public:
    static constexpr float width = 320, height = 295;
    static constexpr double canvasTimeout = 600;
    static constexpr int indicatorTag = 1;
    // The media host's canvas page.
    static std::string canvasPageAddress();

    explicit AdlarkCanvasWebView(kit::Rect frame);
    std::string className() const override { return "AdlarkCanvasWebView"; }

    // What closes the panel (the canvas controller's dismissModal).
    std::function<void()> dismissSelector;

    // The ad's canvas address with "#sdk" appended (also after a fragment it has).
    void setCanvasUrl(const kit::URL& url);
    const std::optional<kit::URL>& canvasUrl() const { return m_canvasUrl; }
    void setCanvasTitle(std::string title) { m_canvasTitle = std::move(title); }
    const std::string& canvasTitle() const { return m_canvasTitle; }
    bool initialLoad() const { return m_initialLoad; }

    void startLoadingCanvas();
    // Answers, on the run loop, whether the page defines a global `adlark`.
    void webviewIsFromAdlark(std::function<void(bool)> answer);
    // The script that hands the address and the title to the page.
    std::string callbackScript() const;

    // "a=1&b=%41" -> {a: 1, b: A}; see the .cpp for the rules.
    static std::map<std::string, std::string> dictionaryWithQueryString(const std::string& query);
    // text as a single-quoted JavaScript string literal.
    static std::string scriptStringLiteral(const std::string& text);

private:
    bool webViewShouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest&, kit::WebViewNavigationType) override;
    void webViewDidFinishLoad(kit::WebView&) override;
    void webViewDidFailLoadWithError(kit::WebView&, const kit::WebError&) override;
    void dismiss();
    void launch(const std::map<std::string, std::string>& parameters);

    std::optional<kit::URL> m_canvasUrl;
    std::string m_canvasTitle;
    bool m_initialLoad { true };
    // The page is being asked whether it is the canvas page.
    bool m_checking { false };
};
