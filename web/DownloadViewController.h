#pragma once
// The torrent-site browser tab: a web view, an address field, a panel of six
// start pages that slides in and out, and an activity indicator. Every load
// the web view is about to start passes through one decision, which keeps a
// copy of whatever a torrent link (an address ending in "torrent") points to
// as "page.torrent" in the Documents folder under home.
//
// That copy is fetched on the run loop while the tab goes on: a bar at the
// foot of the page says it is fetching and offers Cancel, and then says
// where the file was kept and offers Download, which hands the kept file to
// the transfer tab as the files tab hands one (the stored settings, then
// that tab, which asks whether to download it). The kept bar stays until
// it is used, another page starts, or another link is fetched. A later
// torrent link replaces a fetch still running; the last one wins. The address field follows the page shown
// unless the user is typing in it; the indicator stops when a load ends,
// however it ends.
//
// The view fields refer to views of the tab's tree (held by the tree); the
// controller is the delegate of the web view and of the field through weak
// links, which end with the controller.
#include "kit/ui/ActivityIndicatorView.h"
#include "kit/ui/Button.h"
#include "kit/ui/Label.h"
#include "kit/core/Timer.h"
#include "kit/net/ResourceFetch.h"
#include "kit/ui/TextField.h"
#include "kit/ui/ViewController.h"
#include "kit/web/WebView.h"

#include <string>

class DownloadViewController : public kit::ViewController, public kit::WebViewDelegate, public kit::TextFieldDelegate {
public:
    // Start pages: public, lawful sources of torrents.
    static constexpr const char* demonoidPage = "http://archive.org";                   // Internet Archive
    static constexpr const char* mininovaPage = "http://cdimage.debian.org";            // Debian images
    static constexpr const char* piratebayPage = "http://releases.ubuntu.com";          // Ubuntu releases
    static constexpr const char* sumoPage = "http://www.publicdomaintorrents.info/";    // public-domain films
    static constexpr const char* extremePage = "http://linuxtracker.org/";              // Linux distributions
    static constexpr const char* litePage = "http://torrent.fedoraproject.org/";        // Fedora
    static constexpr const char* defaultStartPage = piratebayPage;

    ~DownloadViewController() override;

    // Panel states, kept in the panel's tag.
    static constexpr int panelClosed = 0;
    static constexpr int panelOpen = 1;
    static constexpr float panelOffset = -500;
    static constexpr double panelDuration = 2.0;

    std::string className() const override { return "DownloadViewController"; }
    void loadView() override;
    void viewDidLoad() override;

    bool textFieldShouldReturn(kit::TextField& field) override;
    // The address shown is selected, so that typing replaces it.
    void textFieldDidBeginEditing(kit::TextField& field) override;
    bool webViewShouldStartLoadWithRequest(kit::WebView& view, const kit::URLRequest& request, kit::WebViewNavigationType type) override;
    void webViewDidStartLoad(kit::WebView& view) override;
    void webViewDidFinishLoad(kit::WebView& view) override;
    void webViewDidFailLoadWithError(kit::WebView& view, const kit::WebError& error) override;

    // The fetch of a torrent link.
    static constexpr const char* fetchingText = "Fetching the .torrent file\u2026";
    static constexpr const char* keptText = "Kept as page.torrent in Documents";
    static constexpr const char* tooManyFilesText = "Not kept: it lists too many files";
    // How long a notice without an action stays.
    static constexpr double keptNoticeDuration = 4;
    bool isFetching() const { return m_fetch && m_fetch->isRunning(); }
    void cancelFetch();
    // The kept file to the transfer tab, checked first as every way in is.
    void downloadKept();
    // The transfer tab's place in the tab bar.
    static constexpr int transferTabIndex = 3;

    void demonoidClicked();
    void mininovaClicked();
    void piratebayClicked();
    void sumoClicked();
    void extremeClicked();
    void liteClicked();
    void searchClicked();

    // The typed-address rule: the text with "http://" in front unless it holds
    // "http://" (or "https://") somewhere already.
    static std::string typedAddress(const std::string& text);
    // An address whose whole text ends in "torrent" (exact case).
    static bool isTorrentAddress(const std::string& absoluteString);
    // "page.torrent" in the Documents folder under home.
    static std::string keptTorrentPath();

    kit::WebView* webView { nullptr };
    kit::View* searchView { nullptr };
    kit::TextField* urlField { nullptr };
    kit::ActivityIndicatorView* act { nullptr };
    kit::Button* searchButton { nullptr };
    kit::View* fetchBar { nullptr };       // the foot bar shown while fetching and when kept
    kit::Label* fetchLabel { nullptr };
    kit::Button* fetchCancelButton { nullptr };
    kit::Button* fetchDownloadButton { nullptr }; // on the bar once the file is kept

    // How long the fetch of a torrent link may take.
    double fetchTimeLimit { 30 };

private:
    void openSite(const char* page);
    void setPanelTranslation(float y);
    void fetchTorrent(const std::string& address);
    void fetchEnded(std::optional<std::vector<uint8_t>> bytes);
    enum class BarAction { None, Cancel, Download };
    void showFetchBar(const std::string& text, BarAction action);
    void hideFetchBar();
    // Hands a .torrent's path or a magnet link to the Transfer tab, as the
    // files tab hands a file (path, name, then the flag), and shows that tab.
    static void askInTransferTab(const std::string& what, const std::string& name);
    void hideFetchBarLater();
    void showPageAddress();

    std::unique_ptr<kit::ResourceFetch> m_fetch;
    std::shared_ptr<kit::Timer> m_keptNotice;
    std::string m_shownAddress; // the page address the field was last given
};
