#pragma once
// The torrent-site browser tab: a web view, an address field, a panel of six
// start pages that slides in and out, and an activity indicator. Every load
// the web view is about to start passes through one decision, which keeps a
// copy of whatever a torrent link (an address ending in "torrent") points to
// as "page.torrent" in the Documents folder under home.
//
// The view fields refer to views of the tab's tree (held by the tree); the
// controller is the delegate of the web view and of the field through weak
// links, which end with the controller.
#include "kit/ui/ActivityIndicatorView.h"
#include "kit/ui/Button.h"
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

    // Panel states, kept in the panel's tag.
    static constexpr int panelClosed = 0;
    static constexpr int panelOpen = 1;
    static constexpr float panelOffset = -500;
    static constexpr double panelDuration = 2.0;

    std::string className() const override { return "DownloadViewController"; }
    void loadView() override;
    void viewDidLoad() override;

    bool textFieldShouldReturn(kit::TextField& field) override;
    bool webViewShouldStartLoadWithRequest(kit::WebView& view, const kit::URLRequest& request, kit::WebViewNavigationType type) override;
    void webViewDidStartLoad(kit::WebView& view) override;
    void webViewDidFinishLoad(kit::WebView& view) override;

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

    // How long the fetch of a torrent link may hold the application up.
    double fetchTimeLimit { 30 };

private:
    void openSite(const char* page);
    void setPanelTranslation(float y);
};
