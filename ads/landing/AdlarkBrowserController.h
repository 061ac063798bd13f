#pragma once
// The embedded browser of web ads, over the whole application frame: a
// navigation bar (Done, the page title, a spinner while loading), the page,
// and a toolbar (back, forward, reload or stop, action). Opened and closed by
// the modal presentation; the host hears willPresentWebView and
// didDismissWebView.
//
// Every navigation passes the filter (navigationDecision): "file" addresses
// are refused; "about" loads; other schemes, the map service, the video
// site's video pages and the media store go to the system (and the answer is
// still yes, as the handheld's is); everything else loads here. The hosts:
//   map service   host begins with "maps.atlasview." or "local.atlasview."
//   video site    host is "clipstream.example" or "www.clipstream.example",
//                 and the path begins with "/watch" or "/v/"
//   media store   host begins with "store.tunevault.", "media.tunevault.",
//                 "ax.store.tunevault." or "ax.media.tunevault."
// The "file" test ignores case: no address of this device that a page or the
// ad server names is ever handed to the system.
//
// Load failures show "Whoops" with a message chosen by the loader's code
// (silent for a cancelled load). Texts go through the localisation table.
//
// Ownership: the view tree under the modal view keeps the web view, the bars
// and the spinner; the controller refers to them (weak). It is the web view's
// and the action sheet's delegate and clears both when it goes.
#include "ads/landing/AdlarkModalController.h"

#include "kit/ui/ActionSheet.h"
#include "kit/ui/ActivityIndicatorView.h"
#include "kit/ui/NavigationBar.h"
#include "kit/ui/Toolbar.h"
#include "kit/web/WebView.h"

#include <array>
#include <string_view>

class AdlarkBrowserController : public AdlarkModalController, private kit::WebViewDelegate, private kit::ActionSheetDelegate {
public:
    static constexpr float barHeight = 44;
    static constexpr std::array<std::string_view, 2> mapHostPrefixes { "maps.atlasview.", "local.atlasview." };
    static constexpr std::array<std::string_view, 2> videoHosts { "clipstream.example", "www.clipstream.example" };
    static constexpr std::array<std::string_view, 4> storeHostPrefixes { "store.tunevault.", "media.tunevault.",
        "ax.store.tunevault.", "ax.media.tunevault." };

    AdlarkBrowserController();

    void presentBrowserFromView(std::shared_ptr<kit::View> adView, const kit::URL& url);

    static std::vector<std::string> browserIcons();
    std::shared_ptr<kit::BarButtonItem> barButtonItemWithImageName(const std::string& name, const std::string& disabledName,
        bool isEnabled, std::function<void()> action);
    void refreshBottomToolbar();
    void refreshTopToolbar();
    void systemAction();
    void launchSafari();
    void mail();

    // What the filter does with an address: load it here, refuse it, or
    // hand it to the system (and still answer yes).
    enum class Decision { Load, Refuse, HandToSystem };
    static Decision navigationDecision(const kit::URL& url);
    // The alert message for a load failure; empty: no alert.
    static std::string failureMessage(int code);

    kit::WebView* webView() const { return m_webView.lock().get(); }
    kit::Toolbar* bottomToolbar() const { return m_bottomToolbar.lock().get(); }
    kit::NavigationBar* topToolbar() const { return m_topToolbar.lock().get(); }
    kit::NavigationItem* topNavItem() const { return m_topNavItem.get(); }
    kit::ActivityIndicatorView* spinner() const { return m_spinner.lock().get(); }

private:
    bool webViewShouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest&, kit::WebViewNavigationType) override;
    void webViewDidStartLoad(kit::WebView&) override;
    void webViewDidFinishLoad(kit::WebView&) override;
    void webViewDidFailLoadWithError(kit::WebView&, const kit::WebError&) override;
    void actionSheetClickedButtonAtIndex(kit::ActionSheet&, int index) override;
    void refreshBars();

    std::weak_ptr<kit::WebView> m_webView;
    std::weak_ptr<kit::Toolbar> m_bottomToolbar;
    std::weak_ptr<kit::NavigationBar> m_topToolbar;
    std::shared_ptr<kit::NavigationItem> m_topNavItem;
    std::weak_ptr<kit::ActivityIndicatorView> m_spinner;
    std::weak_ptr<kit::ActionSheet> m_sheet;
    // Titles asked for earlier than the last refresh are dropped.
    uint64_t m_titleRequest { 0 };
};
