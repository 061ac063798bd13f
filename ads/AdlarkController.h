#pragma once
// AdlarkController: behind each ad view. It owns the ad on display and the
// ad being loaded, puts a banner view (tag 1) into the ad view for each ready
// ad, swaps banners with a 0.7 s flip from the right (the old banner tagged
// 0 and held until the flip ends), forwards taps to the ad, and opens the
// landing pages.
//
// The host hears didReceiveAd() for the first ad only, and
// didFailToReceiveAd() when the first ad fails; fresh ads come and fail
// without a word. Banner ads (medium 1) are never replaced. The host may drop
// the ad view inside either message: the controller keeps itself alive until
// the message has been handled, and leaves a view that has gone alone.
//
// Ownership: the ad view holds the controller; the controller holds its two
// ads and refers to the view and to the host's delegate without holding
// them (both are checked at every use). Each ad refers back to the
// controller without holding it; the controller clears that link before it
// lets an ad go. Main thread only.
#include "ads/AdlarkAd.h"

#include <any>
#include <memory>
#include <string>

class AdlarkBrowserController;
class AdlarkCanvasController;
class AdlarkDelegate;
class AdlarkSingleAdView;
class AdlarkView;

class AdlarkController : public std::enable_shared_from_this<AdlarkController> {
public:
    static constexpr double flipDuration = 0.7;
    static constexpr const char* flipAnimationID = "newAdlarkAd";
    static constexpr int bannerTag = 1;
    static constexpr int outgoingBannerTag = 0;

    static std::shared_ptr<AdlarkController> create() { return std::make_shared<AdlarkController>(); }
    AdlarkController() = default;
    ~AdlarkController();
    // Drops the landing pages made here, open or not (see AdlarkView::hostWillGo).
    void releaseLandingPages();
    AdlarkController(const AdlarkController&) = delete;
    AdlarkController& operator=(const AdlarkController&) = delete;

    std::shared_ptr<AdlarkView> view() const { return m_view.lock(); }
    void setView(const std::shared_ptr<AdlarkView>& view) { m_view = view; }
    std::shared_ptr<AdlarkDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<AdlarkDelegate>& delegate) { m_delegate = delegate; }

    void startFirstAdRequest();
    void requestFreshAd();
    void click(AdlarkSingleAdView& banner) { clickInView(banner); }

    // For the ads and the flip.
    // Makes an ad wired to this controller, stores it in the field (the
    // ad on display or the one loading), then starts its request.
    std::shared_ptr<AdlarkAd> createAdWithInitiatedAdRequest(std::shared_ptr<AdlarkAd>& field);
    void adDidLoad(AdlarkAd& ad);
    void adDidFailToLoad(AdlarkAd& ad);
    void clickDidFail(AdlarkAd& ad) { removeSpinnerAndRestoreActionIconIfPossibleForAd(ad); }
    void clickDidSucceed(AdlarkAd& ad) { removeSpinnerAndRestoreActionIconIfPossibleForAd(ad); }
    void displayCanvasWithAd(AdlarkAd& ad, const std::string& url);
    void displayEmbeddedBrowserWithAd(AdlarkAd& ad, const std::string& url);
    std::shared_ptr<AdlarkSingleAdView> createSingleAdViewWithAd(const std::shared_ptr<AdlarkAd>& ad);
    void removeSpinnerAndRestoreActionIconIfPossibleForAd(AdlarkAd& ad);
    void clickInView(AdlarkSingleAdView& banner);
    void newAdAnimationDidStop(const std::string& animationID, bool finished, const std::any& context);

    const std::shared_ptr<AdlarkAd>& currentlyDisplayedAd() const { return m_currentlyDisplayedAd; }
    const std::shared_ptr<AdlarkAd>& loadingAd() const { return m_loadingAd; }
    // The landing pages opened last; each lives until the next of its kind.
    const std::shared_ptr<AdlarkCanvasController>& canvasController() const { return m_canvasController; }
    const std::shared_ptr<AdlarkBrowserController>& browserController() const { return m_browserController; }

private:
    static void dropAd(std::shared_ptr<AdlarkAd>& ad);

    std::weak_ptr<AdlarkView> m_view;
    std::weak_ptr<AdlarkDelegate> m_delegate;
    std::shared_ptr<AdlarkAd> m_currentlyDisplayedAd;
    std::shared_ptr<AdlarkAd> m_loadingAd;
    std::shared_ptr<AdlarkCanvasController> m_canvasController;
    std::shared_ptr<AdlarkBrowserController> m_browserController;
};
