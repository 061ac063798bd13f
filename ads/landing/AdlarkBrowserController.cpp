#include "ads/landing/AdlarkBrowserController.h"

#include "ads/AdlarkImageCache.h"
#include "ads/AdlarkService.h"

#include "kit/ui/AlertView.h"
#include "kit/ui/Application.h"
#include "kit/core/Localization.h"
#include "kit/core/WeakBind.h"
#include "kit/net/URLEscape.h"
#include "kit/ui/Window.h"

#include <algorithm>
#include <cctype>

namespace {

bool beginsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The scheme as written: the comparisons of the filter are exact.
std::string writtenScheme(const kit::URL& url)
{
    const auto& text = url.absoluteString();
    auto colon = text.find(':');
    return colon == std::string::npos ? std::string() : text.substr(0, colon);
}

std::string lowered(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void handToSystem(const kit::URL& url)
{
    if (lowered(writtenScheme(url)) == "file")
        return;
    if (kit::Application::exists())
        kit::Application::shared().handOverURL(url.absoluteString());
}

} // namespace

AdlarkBrowserController::AdlarkBrowserController()
{
    willPresentSelector = &AdlarkDelegate::willPresentWebView;
    didDismissSelector = &AdlarkDelegate::didDismissWebView;
}

std::vector<std::string> AdlarkBrowserController::browserIcons()
{
    return { adlark::browserIconNames.begin(), adlark::browserIconNames.end() };
}

void AdlarkBrowserController::presentBrowserFromView(std::shared_ptr<kit::View> adView, const kit::URL& url)
{
    auto keep = shared_from_this();
    const auto frame = kit::Window::applicationFrame();
    const float aw = frame.width(), ah = frame.height();

    auto web = kit::View::create<kit::WebView>();
    web->setDelegate(kit::weakAs(*this, static_cast<kit::WebViewDelegate*>(this)));
    m_webView = web;
    web->setScalesPageToFit(true);
    web->loadRequest(kit::URLRequest::requestWithURL(url));

    auto modal = kit::View::create(kit::Rect { 0, 0, aw, ah });
    modal->setBackgroundColor(kit::Color::rgba(0, 1, 0, 1));
    modal->setAutoresizingMask(kit::ViewAutoresizingFlexibleSize);
    setModalView(modal);

    web->setFrame({ 0, barHeight, aw, ah - 2 * barHeight });
    auto bottom = kit::View::create<kit::Toolbar>(kit::Rect { 0, ah - barHeight, aw, barHeight });
    auto top = kit::View::create<kit::NavigationBar>(kit::Rect { 0, 0, aw, barHeight });
    // The bars span the width at the top and the bottom; the page takes the rest.
    web->setAutoresizingMask(kit::ViewAutoresizingFlexibleSize);
    bottom->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth | kit::ViewAutoresizingFlexibleTopMargin);
    top->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    m_bottomToolbar = bottom;
    m_topToolbar = top;

    if (auto delegate = adlarkDelegate()) {
        if (auto style = delegate->embeddedWebViewBarStyle()) {
            bottom->setBarStyle(kit::BarStyle(*style));
            top->setBarStyle(kit::BarStyle(*style));
        }
        if (auto tint = delegate->embeddedWebViewTintColor()) {
            bottom->setTintColor(*tint);
            top->setTintColor(*tint);
        }
    }
    m_topNavItem = std::make_shared<kit::NavigationItem>("");
    top->setItems({ m_topNavItem });

    refreshBottomToolbar();
    refreshTopToolbar();

    modal->addSubview(bottom);
    modal->addSubview(top);
    modal->addSubview(web);
    presentModalFromView(std::move(adView));
}

std::shared_ptr<kit::BarButtonItem> AdlarkBrowserController::barButtonItemWithImageName(const std::string& name,
    const std::string& disabledName, bool isEnabled, std::function<void()> action)
{
    const std::string& shown = isEnabled ? name : disabledName;
    auto image = AdlarkImageCache::sharedCache().fetchImageNamed(shown);
    auto item = kit::BarButtonItem::createImage(std::move(image), shown, kit::BarButtonItemStyle::Plain, std::move(action));
    item->setEnabled(isEnabled);
    return item;
}

void AdlarkBrowserController::refreshBottomToolbar()
{
    auto web = m_webView.lock();
    auto bar = m_bottomToolbar.lock();
    if (!web || !bar)
        return;
    std::weak_ptr<kit::WebView> weakWeb = web;
    auto onWeb = [weakWeb](void (kit::WebView::*method)()) {
        return std::function<void()>([weakWeb, method] {
            if (auto w = weakWeb.lock())
                ((*w).*method)();
        });
    };
    auto back = barButtonItemWithImageName("back", "back_disable", web->canGoBack(), onWeb(&kit::WebView::goBack));
    auto forward = barButtonItemWithImageName("forward", "forward_disable", web->canGoForward(), onWeb(&kit::WebView::goForward));
    auto reloadOrStop = web->isLoading()
        ? kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::Stop, onWeb(&kit::WebView::stopLoading))
        : kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::Refresh, onWeb(&kit::WebView::reload));
    auto space = kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::FlexibleSpace);
    auto action = kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::Action, kit::bindWeak(*this, &AdlarkBrowserController::systemAction));
    bar->setItems({ back, space, forward, space, reloadOrStop, space, action });
}

void AdlarkBrowserController::refreshTopToolbar()
{
    auto web = m_webView.lock();
    auto bar = m_topToolbar.lock();
    if (!web || !bar || !m_topNavItem)
        return;
    m_topNavItem->setLeftBarButtonItem(
        kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::Done, kit::bindWeak(*this, &AdlarkModalController::dismissModal)));
    const uint64_t request = ++m_titleRequest;
    if (web->isLoading()) {
        if (!m_spinner.lock()) {
            auto spinner = kit::View::create<kit::ActivityIndicatorView>(kit::Rect {}, kit::ActivityIndicatorViewStyle::White);
            m_spinner = spinner;
            spinner->startAnimating();
            const auto size = bar->frame();
            spinner->setFrame({ (size.width() - 20) * 0.5f, (size.height() - 20) * 0.5f, 20, 20 });
            spinner->setAutoresizingMask(kit::ViewAutoresizingFlexibleLeftMargin | kit::ViewAutoresizingFlexibleRightMargin);
            bar->addSubview(spinner);
        }
        m_topNavItem->setTitle("");
        return;
    }
    if (auto spinner = m_spinner.lock())
        spinner->removeFromSuperview();
    m_spinner.reset();
    // The engine answers later; a newer refresh wins over this one.
    std::weak_ptr<AdlarkModalController> weak = weak_from_this();
    web->stringByEvaluatingJavaScriptFromString("document.title", [weak, request](std::string title) {
        auto self = std::static_pointer_cast<AdlarkBrowserController>(weak.lock());
        if (self && self->m_titleRequest == request && self->m_topNavItem)
            self->m_topNavItem->setTitle(std::move(title));
    });
}

void AdlarkBrowserController::refreshBars()
{
    refreshBottomToolbar();
    refreshTopToolbar();
}

void AdlarkBrowserController::systemAction()
{
    auto bar = m_bottomToolbar.lock();
    if (!bar || !kit::Application::exists())
        return;
    auto sheet = kit::ActionSheet::create("", kit::weakAs(*this, static_cast<kit::ActionSheetDelegate*>(this)), kit::localizedString("Cancel"), std::nullopt,
        { kit::localizedString("Launch Safari"), kit::localizedString("Email link") });
    m_sheet = sheet;
    sheet->showFromToolbar(*bar);
}

void AdlarkBrowserController::actionSheetClickedButtonAtIndex(kit::ActionSheet&, int index)
{
    if (index == 0)
        launchSafari();
    else if (index == 1)
        mail();
}

void AdlarkBrowserController::launchSafari()
{
    auto web = m_webView.lock();
    if (!web || !web->request() || !web->request()->url())
        return;
    handToSystem(*web->request()->url());
}

void AdlarkBrowserController::mail()
{
    auto web = m_webView.lock();
    if (!web)
        return;
    std::weak_ptr<kit::WebView> weakWeb = web;
    web->stringByEvaluatingJavaScriptFromString("document.title", [weakWeb](std::string title) {
        auto web = weakWeb.lock();
        std::string address = web && web->request() ? web->request()->absoluteString() : std::string();
        auto link = "mailto:?subject=" + kit::stringByAddingPercentEscapes(title) + "&body=" + kit::stringByAddingPercentEscapes(address);
        if (auto url = kit::URL::withString(link))
            handToSystem(*url);
    });
}

AdlarkBrowserController::Decision AdlarkBrowserController::navigationDecision(const kit::URL& url)
{
    const std::string scheme = writtenScheme(url);
    if (lowered(scheme) == "file")
        return Decision::Refuse;
    if (scheme == "about")
        return Decision::Load;
    if (scheme != "http" && scheme != "https")
        return Decision::HandToSystem;
    const std::string host = url.host();
    const std::string path = url.path();
    auto anyPrefix = [&](auto& prefixes) {
        return std::any_of(prefixes.begin(), prefixes.end(), [&](std::string_view p) { return beginsWith(host, p); });
    };
    if (anyPrefix(mapHostPrefixes))
        return Decision::HandToSystem;
    if (std::find(videoHosts.begin(), videoHosts.end(), host) != videoHosts.end() && (beginsWith(path, "/watch") || beginsWith(path, "/v/")))
        return Decision::HandToSystem;
    if (anyPrefix(storeHostPrefixes))
        return Decision::HandToSystem;
    return Decision::Load;
}

bool AdlarkBrowserController::webViewShouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest& request, kit::WebViewNavigationType)
{
    if (!request.url())
        return true;
    switch (navigationDecision(*request.url())) {
    case Decision::Refuse: return false;
    case Decision::HandToSystem: handToSystem(*request.url()); return true;
    case Decision::Load: return true;
    }
    return true;
}

void AdlarkBrowserController::webViewDidStartLoad(kit::WebView&)
{
    refreshBars();
}

void AdlarkBrowserController::webViewDidFinishLoad(kit::WebView&)
{
    refreshBars();
}

std::string AdlarkBrowserController::failureMessage(int code)
{
    if (code == kit::WebErrorCancelled)
        return {};
    if ((code >= -3005 && code <= -3000) || code == -1101 || code == -1100)
        return "That file can't be displayed.";
    if (code == -2000 || code == -1009 || code == -1008 || code == -1005 || code == -1004 || code == -1001)
        return "Couldn't connect to that page.";
    if (code >= -1204 && code <= -1200)
        return "That page is not secure.";
    if (code == -1103)
        return "That page is too large to load.";
    if (code == -1002 || code == -1000)
        return "That page is not supported.";
    return "That page could not be loaded.";
}

void AdlarkBrowserController::webViewDidFailLoadWithError(kit::WebView&, const kit::WebError& error)
{
    auto keep = shared_from_this();
    refreshBars();
    auto message = failureMessage(error.code);
    if (message.empty())
        return;
    if (!kit::Application::exists())
        return;
    auto alert = kit::AlertView::create(kit::localizedString("Whoops"), kit::localizedString(message), {}, kit::localizedString("Ok"), {});
    alert->show();
}
