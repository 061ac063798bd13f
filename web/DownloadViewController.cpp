#include "web/DownloadViewController.h"

#include "kit/core/AtomicFile.h"
#include "kit/net/BlockingFetch.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/WeakBind.h"
#include "kit/ui/ViewAnimation.h"

void DownloadViewController::loadView()
{
    auto root = kit::View::create(kit::Rect { 0, 0, 320, 411 });
    root->setBackgroundColor(kit::Color::white());
    root->setClipsToBounds(true);

    auto bar = kit::View::create(kit::Rect { 0, 0, 320, 44 });
    bar->setBackgroundColor(kit::Color::rgba(0.43f, 0.52f, 0.63f));
    bar->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    auto field = kit::View::create<kit::TextField>(kit::Rect { 6, 7, 236, 30 });
    field->setBackgroundColor(kit::Color::white());
    field->setPlaceholder("Address");
    field->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    urlField = field.get();
    bar->addSubview(field);
    auto search = kit::Button::create({ 248, 7, 66, 30 }, "Sites", [this] { searchClicked(); });
    searchButton = search.get();
    search->setAutoresizingMask(kit::ViewAutoresizingFlexibleLeftMargin);
    bar->addSubview(search);

    auto web = kit::View::create<kit::WebView>(kit::Rect { 0, 44, 320, 367 });
    webView = web.get();
    web->setAutoresizingMask(kit::ViewAutoresizingFlexibleSize);

    auto spinner = kit::View::create<kit::ActivityIndicatorView>(kit::Rect { 141, 209, 37, 37 }, kit::ActivityIndicatorViewStyle::Gray);
    act = spinner.get();
    spinner->setAutoresizingMask(kit::ViewAutoresizingFlexibleMargins);

    // The panel starts hidden and in place; the first press of the search
    // control slides it in from above.
    auto panel = kit::View::create(kit::Rect { 0, 44, 320, 188 });
    panel->setBackgroundColor(kit::Color::rgba(0.2f, 0.2f, 0.2f, 0.9f));
    panel->setHidden(true);
    panel->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    struct Site {
        const char* title;
        void (DownloadViewController::*action)();
    };
    const Site sites[] = {
        { "Internet Archive", &DownloadViewController::demonoidClicked },
        { "Debian", &DownloadViewController::mininovaClicked },
        { "Ubuntu", &DownloadViewController::piratebayClicked },
        { "Public Domain", &DownloadViewController::sumoClicked },
        { "Linux Tracker", &DownloadViewController::extremeClicked },
        { "Fedora", &DownloadViewController::liteClicked },
    };
    for (size_t i = 0; i < std::size(sites); ++i) {
        float x = i % 2 == 0 ? 10 : 165;
        float y = 12 + float(i / 2) * 58;
        auto action = sites[i].action;
        auto button = kit::Button::create({ x, y, 145, 46 }, sites[i].title, [this, action] { (this->*action)(); });
        button->setBackgroundColor(kit::Color::white());
        // Two columns that share the panel's width.
        button->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth
            | (i % 2 == 0 ? kit::ViewAutoresizingFlexibleRightMargin : kit::ViewAutoresizingFlexibleLeftMargin));
        panel->addSubview(button);
    }
    searchView = panel.get();

    root->addSubview(web);
    root->addSubview(spinner);
    root->addSubview(panel);
    root->addSubview(bar);
    setView(root);
}

void DownloadViewController::viewDidLoad()
{
    kit::ViewController::viewDidLoad();
    webView->setDelegate(kit::weakAs<kit::WebViewDelegate>(*this));
    urlField->setDelegate(kit::weakAs<kit::TextFieldDelegate>(*this));
    webView->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString(defaultStartPage)));
    searchView->setTag(panelClosed);
}

void DownloadViewController::setPanelTranslation(float y)
{
    searchView->setTransform(kit::Transform::translation(0, y));
}

void DownloadViewController::openSite(const char* page)
{
    webView->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString(page)));
    // Closing always moves the panel, whatever its state: it jumps into place
    // and slides up again. Its hidden flag stays as it is.
    setPanelTranslation(0);
    kit::ViewAnimation::beginAnimations("closeSites");
    kit::ViewAnimation::setAnimationDuration(panelDuration);
    setPanelTranslation(panelOffset);
    kit::ViewAnimation::commitAnimations();
    searchView->setTag(panelClosed);
}

void DownloadViewController::demonoidClicked() { openSite(demonoidPage); }
void DownloadViewController::mininovaClicked() { openSite(mininovaPage); }
void DownloadViewController::piratebayClicked() { openSite(piratebayPage); }
void DownloadViewController::sumoClicked() { openSite(sumoPage); }
void DownloadViewController::extremeClicked() { openSite(extremePage); }
void DownloadViewController::liteClicked() { openSite(litePage); }

void DownloadViewController::searchClicked()
{
    switch (searchView->tag()) {
    case panelClosed:
        kit::log("Search Clicked");
        setPanelTranslation(panelOffset);
        kit::ViewAnimation::beginAnimations("openSites");
        kit::ViewAnimation::setAnimationDuration(panelDuration);
        searchView->setHidden(false);
        setPanelTranslation(0);
        kit::ViewAnimation::commitAnimations();
        searchView->setTag(panelOpen);
        break;
    case panelOpen:
        setPanelTranslation(0);
        kit::ViewAnimation::beginAnimations("closeSites");
        kit::ViewAnimation::setAnimationDuration(panelDuration);
        setPanelTranslation(panelOffset);
        kit::ViewAnimation::commitAnimations();
        searchView->setTag(panelClosed);
        break;
    default:
        break;
    }
}

std::string DownloadViewController::typedAddress(const std::string& text)
{
    // A secure address keeps its scheme; "http://https://..." would load nothing.
    if (text.find("http://") != std::string::npos || text.find("https://") != std::string::npos)
        return text;
    return "http://" + text;
}

bool DownloadViewController::isTorrentAddress(const std::string& absoluteString)
{
    return absoluteString.ends_with("torrent");
}

std::string DownloadViewController::keptTorrentPath()
{
    return kit::DeviceLayout::current().homeFolder() + "/Documents" + "/page.torrent";
}

bool DownloadViewController::textFieldShouldReturn(kit::TextField& field)
{
    urlField->resignFirstResponder();
    auto text = typedAddress(urlField->text());
    if (text != urlField->text())
        urlField->setText(text);
    webView->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString(urlField->text())));
    return true;
}

bool DownloadViewController::webViewShouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest& request, kit::WebViewNavigationType)
{
    const std::string address = request.absoluteString();
    std::optional<std::vector<uint8_t>> bytes;
    if (isTorrentAddress(address)) {
        kit::log("torrent");
        // Holds the whole application up, as it always has; the time limit
        // keeps a server that never answers from freezing it for good.
        bytes = kit::fetchContentsOfURL(address, fetchTimeLimit);
    }
    kit::log(" URL String = " + address);
    if (bytes) {
        // Nothing is shown for a file that cannot be kept; the log says why.
        if (auto written = kit::writeFileAtomically(keptTorrentPath(), bytes->data(), bytes->size()); !written)
            kit::log("the torrent could not be kept: " + written.error().message);
    }
    return true;
}

void DownloadViewController::webViewDidStartLoad(kit::WebView&)
{
    act->startAnimating();
}

void DownloadViewController::webViewDidFinishLoad(kit::WebView&)
{
    act->stopAnimating();
}
