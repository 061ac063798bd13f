#include "web/DownloadViewController.h"

#include "kit/core/AtomicFile.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/UserDefaults.h"
#include "kit/core/WeakBind.h"
#include "kit/ui/AlertView.h"
#include "kit/ui/Application.h"
#include "kit/ui/TabBarController.h"
#include "kit/ui/LaidOutView.h"
#include "kit/ui/ViewAnimation.h"
#include "torrent/Magnet.h"
#include "torrent/TorrentCheck.h"

#include <algorithm>
#include <filesystem>

namespace {
constexpr float siteButtonHeight = 46, siteRowStep = 58, sitesMargin = 10;

// Two columns of three sites under the bar; where a turned phone leaves too
// little height for three rows, three columns of two.
void laySites(kit::View& panel, float rootHeight)
{
    auto& buttons = panel.subviews();
    const float width = panel.frame().width();
    const auto heightFor = [](size_t rows) { return 12 + float(rows - 1) * siteRowStep + siteButtonHeight + 14; };
    const size_t rows = 44 + heightFor(3) > rootHeight + 0.01f ? 2 : 3;
    const size_t columns = (buttons.size() + rows - 1) / rows;
    const float buttonWidth = (width - sitesMargin * float(columns + 1)) / float(columns);
    for (size_t i = 0; i < buttons.size(); ++i) {
        const float x = sitesMargin + float(i % columns) * (buttonWidth + sitesMargin);
        const float y = 12 + float(i / columns) * siteRowStep;
        buttons[i]->setFrame({ x, y, buttonWidth, siteButtonHeight });
    }
    auto frame = panel.frame();
    panel.setFrame({ frame.x(), frame.y(), width, heightFor(rows) });
}
} // namespace

DownloadViewController::~DownloadViewController()
{
    m_fetch.reset();
    if (m_keptNotice)
        m_keptNotice->invalidate();
}

void DownloadViewController::loadView()
{
    auto root = kit::View::create<kit::LaidOutView>(kit::Rect { 0, 0, 320, 411 });
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
        auto button = kit::Button::create({ x, y, 145, siteButtonHeight }, sites[i].title, [this, action] { (this->*action)(); });
        button->setBackgroundColor(kit::Color::white());
        panel->addSubview(button);
    }
    searchView = panel.get();
    // Both are the root's own: neither outlives the other.
    root->onLayout = [panel = panel.get(), root = root.get()] { laySites(*panel, root->frame().height()); };

    // The foot bar of a torrent link's fetch, over the bottom of the page.
    auto foot = kit::View::create(kit::Rect { 0, 367, 320, 44 });
    foot->setBackgroundColor(kit::Color::rgba(0.15f, 0.15f, 0.15f, 0.92f));
    foot->setHidden(true);
    // Across the foot of the page at any size, its button at the right.
    foot->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth | kit::ViewAutoresizingFlexibleTopMargin);
    auto footLabel = kit::View::create<kit::Label>(kit::Rect { 10, 0, 232, 44 });
    footLabel->setFont(kit::Font::systemFont(13));
    footLabel->setTextColor(kit::Color::white());
    footLabel->setLineBreakMode(kit::LineBreakMode::TailTruncation);
    footLabel->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    fetchLabel = footLabel.get();
    foot->addSubview(footLabel);
    auto cancel = kit::Button::create({ 248, 7, 66, 30 }, "Cancel", [this] { cancelFetch(); });
    cancel->setBackgroundColor(kit::Color::white());
    cancel->setAutoresizingMask(kit::ViewAutoresizingFlexibleLeftMargin);
    fetchCancelButton = cancel.get();
    foot->addSubview(cancel);
    auto download = kit::Button::create({ 224, 7, 90, 30 }, "Download", [this] { downloadKept(); });
    download->setBackgroundColor(kit::Color::white());
    download->setHidden(true);
    download->setAutoresizingMask(kit::ViewAutoresizingFlexibleLeftMargin);
    fetchDownloadButton = download.get();
    foot->addSubview(download);
    fetchBar = foot.get();

    root->addSubview(web);
    root->addSubview(spinner);
    root->addSubview(foot);
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

void DownloadViewController::textFieldDidBeginEditing(kit::TextField& field)
{
    field.setSelection(0, field.text().size());
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
    if (torrent::isMagnetLink(address)) {
        // The page goes nowhere: the link is asked for in the Transfer tab, by its name.
        auto magnet = torrent::parseMagnet(address);
        if (!magnet.magnet) {
            kit::log("Magnet link refused: " + magnet.problem);
            kit::AlertView::create("Cannot open the magnet link", magnet.problem, {}, "OK", {})->show();
            return false;
        }
        askInTransferTab(magnet.magnet->link(), magnet.magnet->displayName());
        return false;
    }
    if (isTorrentAddress(address))
        kit::log("torrent");
    kit::log(" URL String = " + address);
    // Fetched on the run loop: the page, the tabs and Cancel stay usable.
    if (isTorrentAddress(address))
        fetchTorrent(address);
    return true;
}

void DownloadViewController::fetchTorrent(const std::string& address)
{
    m_fetch.reset(); // a later link wins
    showFetchBar(fetchingText, BarAction::Cancel);
    m_fetch = kit::ResourceFetch::start(
        address, [this](std::optional<std::vector<uint8_t>> bytes) { fetchEnded(std::move(bytes)); }, fetchTimeLimit);
}

void DownloadViewController::fetchEnded(std::optional<std::vector<uint8_t>> bytes)
{
    if (!bytes) {
        // As ever, a fetch that fails keeps nothing and says nothing.
        kit::log("the torrent could not be fetched");
        hideFetchBar();
        return;
    }
    // A description past the file-count cap is refused here as on every other
    // way in; kept, it would be refused only once chosen.
    const std::string_view fetched(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    if (auto why = torrent::refusalForFileCount(fetched)) {
        kit::log("the torrent was not kept: " + *why);
        showFetchBar(tooManyFilesText, BarAction::None);
        hideFetchBarLater();
        return;
    }
    // Nothing is shown for a file that cannot be kept; the log says why.
    if (auto written = kit::writeFileAtomically(keptTorrentPath(), bytes->data(), bytes->size()); !written) {
        kit::log("the torrent could not be kept: " + written.error().message);
        hideFetchBar();
        return;
    }
    // It stays while it offers something to do with the file.
    showFetchBar(keptText, BarAction::Download);
}

void DownloadViewController::downloadKept()
{
    const std::string path = keptTorrentPath();
    if (auto refused = torrent::refusalForFile(path)) {
        std::string why = refused->message;
        std::replace(why.begin(), why.end(), '\n', ' ');
        kit::log("Download refused: " + why);
        kit::AlertView::create(refused->title, refused->message, {}, "OK", {})->show();
        return;
    }
    hideFetchBar();
    askInTransferTab(path, std::filesystem::path(path).filename().string());
}

void DownloadViewController::askInTransferTab(const std::string& what, const std::string& name)
{
    auto& defaults = kit::UserDefaults::standard();
    defaults.setObject(what, "DownloadTorrent");
    defaults.setObject(name, "DownloadTorrentName");
    defaults.setObject("Yes", "DownloadTorrentBool");
    if (auto* delegate = kit::Application::exists() ? kit::Application::shared().delegate() : nullptr; delegate && delegate->tabBarController)
        delegate->tabBarController->setSelectedIndex(transferTabIndex);
}

void DownloadViewController::hideFetchBarLater()
{
    std::weak_ptr<kit::ViewController> weak = weak_from_this();
    m_keptNotice = kit::Timer::scheduled(keptNoticeDuration, false, [weak](kit::Timer&) {
        if (auto self = std::static_pointer_cast<DownloadViewController>(weak.lock()))
            self->hideFetchBar();
    });
}

void DownloadViewController::cancelFetch()
{
    if (!m_fetch)
        return;
    m_fetch.reset();
    kit::log("the torrent fetch was cancelled");
    hideFetchBar();
}

void DownloadViewController::showFetchBar(const std::string& text, BarAction action)
{
    if (m_keptNotice) {
        m_keptNotice->invalidate();
        m_keptNotice.reset();
    }
    if (!fetchBar)
        return;
    fetchLabel->setText(text);
    fetchCancelButton->setHidden(action != BarAction::Cancel);
    fetchDownloadButton->setHidden(action != BarAction::Download);
    // The label gives the button the room it takes.
    const auto button = action == BarAction::Download ? fetchDownloadButton->frame() : fetchCancelButton->frame();
    fetchLabel->setFrame({ 10, 0, std::max(0.0f, button.x() - 16), fetchBar->frame().height() });
    fetchBar->setHidden(false);
}

void DownloadViewController::hideFetchBar()
{
    if (m_keptNotice) {
        m_keptNotice->invalidate();
        m_keptNotice.reset();
    }
    if (fetchBar)
        fetchBar->setHidden(true);
}

void DownloadViewController::showPageAddress()
{
    // The field follows the page, but never takes away what a user is typing
    // there (focus in the field and a text other than the address shown).
    if (!urlField || !webView || !webView->request())
        return;
    if (urlField->isFirstResponder() && !urlField->text().empty() && urlField->text() != m_shownAddress)
        return;
    auto address = webView->request()->absoluteString();
    if (address.empty() || address == "about:blank")
        return;
    m_shownAddress = address;
    urlField->setText(address);
}

void DownloadViewController::webViewDidStartLoad(kit::WebView&)
{
    act->startAnimating();
    // Another page: the kept file's bar has had its say (the link's own load is no other page).
    if (fetchBar && !fetchBar->isHidden() && !fetchDownloadButton->isHidden() && webView->request()
        && !isTorrentAddress(webView->request()->absoluteString()))
        hideFetchBar();
}

void DownloadViewController::webViewDidFinishLoad(kit::WebView&)
{
    act->stopAnimating();
    showPageAddress();
}

void DownloadViewController::webViewDidFailLoadWithError(kit::WebView&, const kit::WebError&)
{
    // An error page is an end too: the indicator does not turn on over it.
    act->stopAnimating();
    showPageAddress();
}
