#include "web/FirstViewController.h"

#include "kit/ui/Application.h"
#include "kit/ui/Label.h"
#include "kit/core/Platform.h"
#include "kit/core/UserDefaults.h"
#include "kit/core/WeakBind.h"
#include "web/WelcomePage.h"

#ifndef QUORVANE_VERSION
#error "the build names the version (QUORVANE_VERSION)"
#endif

const char* const FirstViewController::noticeTitle = "Quorvane 2.1b\nPlease Read!";
const char* const FirstViewController::noticeMessage
    = "This is only shown once!\n\n"
      "Sorry for the faults of the earlier versions. This is a beta of version 2.1.\n\n"
      "New: Quorvane keeps running in the background, so your transfers go on when you leave it; "
      "media playback; a file browser for the downloads folder; a reworked interface; many fixes.\n\n"
      "Coming in the final 2.1: settings for download and upload limits, and a display of the "
      "downloaded percentage and of the time still needed.\n\n"
      "If you like Quorvane, please press Support to donate through our payment page. Thank you!";
const char* const FirstViewController::aboutTitle = "About Quorvane";
const char* const FirstViewController::aboutMessage
    = "Quorvane, a BitTorrent client for your handheld. (c) 2008\n"
      "Version " QUORVANE_VERSION "\n"
      "Support: support@quorvane.example\n"
      "Web: http://www.quorvane.example\n\n"
      "Special Thanks to:\n"
      "Mara Lindqvist (graphics), http://www.lindqvist-art.example\n"
      "Tobi Okafor (graphics)\n"
      "Jonas Feld (coding), http://www.jfeld.example";

void FirstViewController::loadView()
{
    auto root = kit::View::create(kit::Rect { 0, 0, 320, 411 });
    root->setBackgroundColor(kit::Color::white());
    auto web = kit::View::create<kit::WebView>(kit::Rect { 0, 0, 320, 367 });
    web->setDelegate(kit::weakAs<kit::WebViewDelegate>(*this));
    webView = web.get();
    web->setAutoresizingMask(kit::ViewAutoresizingFlexibleSize);
    root->addSubview(web);
    auto spinner = kit::View::create<kit::ActivityIndicatorView>(kit::Rect { 141, 165, 37, 37 }, kit::ActivityIndicatorViewStyle::Gray);
    act = spinner.get();
    spinner->setAutoresizingMask(kit::ViewAutoresizingFlexibleMargins);
    root->addSubview(spinner);
    // The two buttons share the width below the page.
    auto about = kit::Button::create({ 10, 372, 145, 34 }, "About", [this] { showInfo(); });
    about->setAutoresizingMask(kit::ViewAutoresizingFlexibleTopMargin | kit::ViewAutoresizingFlexibleWidth | kit::ViewAutoresizingFlexibleRightMargin);
    root->addSubview(about);
    auto exit = kit::Button::create({ 165, 372, 145, 34 }, "Exit", [this] { exitApp(); });
    exit->setAutoresizingMask(kit::ViewAutoresizingFlexibleTopMargin | kit::ViewAutoresizingFlexibleLeftMargin | kit::ViewAutoresizingFlexibleWidth);
    root->addSubview(exit);
    setView(root);
}

void FirstViewController::awakeFromNib()
{
    // The interface file made the views before waking us.
    view();
    kit::ViewController::viewDidLoad();
    webView->loadRequest(kit::URLRequest::requestWithURL(kit::URL::withString(welcomePageAddress)));
    auto& defaults = kit::UserDefaults::standard();
    defaults.setObject("No", "DownloadTorrentBool");
    if (defaults.stringForKey("AlertBool") == "Ja")
        return;
    auto notice = kit::AlertView::create(noticeTitle, noticeMessage, kit::weakAs<kit::AlertViewDelegate>(*this), "Close", { "Support" });
    // The window first: the notice, with its long selectable message, comes
    // over it a moment later.
    kit::Platform::current().afterFirstFrame([notice] { notice->show(); });
    defaults.setObject("Ja", "AlertBool");
}

void FirstViewController::alertViewClickedButtonAtIndex(kit::AlertView&, int index)
{
    if (index == 1)
        kit::Application::shared().handOverURL(donationPageAddress);
}

void FirstViewController::webViewDidStartLoad(kit::WebView&)
{
    act->startAnimating();
}

void FirstViewController::webViewDidFinishLoad(kit::WebView&)
{
    act->stopAnimating();
}

void FirstViewController::webViewDidFailLoadWithError(kit::WebView& view, const kit::WebError& error)
{
    act->stopAnimating();
    // A cancelled load was replaced by another; that one reports for itself.
    if (error.code == kit::WebErrorCancelled || !view.request() || view.request()->absoluteString() != welcomePageAddress)
        return;
    view.loadHTMLString(welcomePageHTML, std::nullopt);
}

void FirstViewController::showInfo()
{
    auto about = kit::AlertView::create(aboutTitle, aboutMessage, kit::weakAs<kit::AlertViewDelegate>(*this), "Close", {});
    about->show();
}

void FirstViewController::exitApp()
{
    // The delegate asks first when ending would stop a transfer.
    kit::Application::shared().requestTermination();
}
