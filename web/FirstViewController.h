#pragma once
// The welcome tab: the welcome page, the first-run notice (once per
// installation), the about box, and the way to end the application.
// At start-up it also clears any transfer request left from an earlier run.
//
// The view fields refer to views of the tab's tree (held by the tree); the
// controller is the web view's delegate through a weak link, which ends with
// the controller.
#include "kit/ui/ActivityIndicatorView.h"
#include "kit/ui/AlertView.h"
#include "kit/ui/Button.h"
#include "kit/ui/ViewController.h"
#include "kit/web/WebView.h"

class FirstViewController : public kit::ViewController, public kit::AlertViewDelegate, public kit::WebViewDelegate {
public:
    static constexpr const char* welcomePageAddress = "http://www.quorvane.example/iphone/welcome.html";
    static constexpr const char* donationPageAddress
        = "https://payments.quorvane.example/cgi-bin/webscr?cmd=_s-xclick&hosted_button_id=QRV21B7X4M";
    static const char* const noticeTitle;
    static const char* const noticeMessage;
    static const char* const aboutTitle;
    static const char* const aboutMessage;

    std::string className() const override { return "FirstViewController"; }
    void loadView() override;
    void awakeFromNib() override;
    void alertViewClickedButtonAtIndex(kit::AlertView& alert, int index) override;
    void webViewDidStartLoad(kit::WebView& view) override;
    void webViewDidFinishLoad(kit::WebView& view) override;
    // The indicator stops; when the welcome address cannot be loaded, the
    // welcome page that ships with the application is shown instead.
    void webViewDidFailLoadWithError(kit::WebView& view, const kit::WebError& error) override;

    void showInfo();
    void exitApp();

    kit::WebView* webView { nullptr };
    kit::ActivityIndicatorView* act { nullptr };
};
