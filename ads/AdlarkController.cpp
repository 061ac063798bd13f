#include "ads/AdlarkController.h"

#include "ads/AdlarkDelegate.h"
#include "ads/AdlarkSingleAdView.h"
#include "ads/AdlarkView.h"
#include "ads/landing/AdlarkBrowserController.h"
#include "ads/landing/AdlarkCanvasController.h"

#include "kit/ui/Application.h"
#include "kit/core/WeakBind.h"
#include "kit/ui/ViewAnimation.h"

AdlarkController::~AdlarkController()
{
    dropAd(m_currentlyDisplayedAd);
    dropAd(m_loadingAd);
}

void AdlarkController::releaseLandingPages()
{
    m_canvasController.reset();
    m_browserController.reset();
}

void AdlarkController::dropAd(std::shared_ptr<AdlarkAd>& ad)
{
    if (ad)
        ad->setDelegate({});
    ad.reset(); // the ad's teardown cancels its downloads
}

std::shared_ptr<AdlarkAd> AdlarkController::createAdWithInitiatedAdRequest(std::shared_ptr<AdlarkAd>& field)
{
    auto ad = AdlarkAd::create();
    ad->setDataSource(m_delegate);
    ad->setDelegate(weak_from_this());
    ad->requestSuccessSelector = kit::bindWeak(*this, &AdlarkController::adDidLoad);
    ad->requestFailureSelector = kit::bindWeak(*this, &AdlarkController::adDidFailToLoad);
    ad->clickFailureSelector = kit::bindWeak(*this, &AdlarkController::clickDidFail);
    ad->clickSuccessSelector = kit::bindWeak(*this, &AdlarkController::clickDidSucceed);
    ad->displayCanvasSelector = kit::bindWeak(*this, &AdlarkController::displayCanvasWithAd);
    ad->displayEmbeddedBrowserSelector = kit::bindWeak(*this, &AdlarkController::displayEmbeddedBrowserWithAd);
    // In its field before the request starts: a failure reported while the
    // request is being started must find the ad where it belongs, or it
    // would be ignored and the ad kept, failed, for good.
    field = ad;
    ad->request();
    return ad;
}

void AdlarkController::startFirstAdRequest()
{
    createAdWithInitiatedAdRequest(m_currentlyDisplayedAd);
}

void AdlarkController::requestFreshAd()
{
    if (m_currentlyDisplayedAd && m_currentlyDisplayedAd->medium() == AdlarkAd::MediumBanner)
        return; // banner ads are never replaced
    dropAd(m_loadingAd);
    createAdWithInitiatedAdRequest(m_loadingAd);
}

std::shared_ptr<AdlarkSingleAdView> AdlarkController::createSingleAdViewWithAd(const std::shared_ptr<AdlarkAd>& ad)
{
    auto view = m_view.lock();
    auto banner = AdlarkSingleAdView::initWithFrame(view ? view->bounds() : kit::Rect { 0, 0, AdlarkView::width, AdlarkView::height });
    banner->setAd(ad);
    return banner;
}

void AdlarkController::adDidLoad(AdlarkAd& ad)
{
    if (&ad == m_currentlyDisplayedAd.get()) {
        // The host may drop the view, and with it this controller, inside
        // its message.
        auto keep = shared_from_this();
        auto shown = m_currentlyDisplayedAd;
        if (auto delegate = m_delegate.lock())
            if (auto view = m_view.lock())
                delegate->didReceiveAd(*view);
        auto view = m_view.lock();
        if (!view)
            return; // the host let the view go: nothing to put a banner into
        auto banner = createSingleAdViewWithAd(shown);
        banner->setTag(bannerTag);
        view->addSubview(banner);
        return;
    }
    if (&ad != m_loadingAd.get())
        return;

    auto view = m_view.lock();
    auto fresh = m_loadingAd;
    if (view) {
        std::shared_ptr<kit::View> old;
        if (auto* shown = view->viewWithTag(bannerTag); shown && shown != view.get())
            old = shown->shared_from_this();
        auto banner = createSingleAdViewWithAd(fresh);
        banner->setTag(bannerTag);
        if (old)
            old->setTag(outgoingBannerTag);
        std::weak_ptr<AdlarkController> weak = weak_from_this();
        kit::ViewAnimation::beginAnimations(flipAnimationID, old);
        kit::ViewAnimation::setAnimationDuration(flipDuration);
        kit::ViewAnimation::setAnimationTransition(kit::AnimationTransition::FlipFromRight, *view, true);
        kit::ViewAnimation::setAnimationDidStop([weak, old](const std::string& id, bool finished, const std::any& context) {
            if (auto self = weak.lock())
                self->newAdAnimationDidStop(id, finished, context);
            else if (old)
                old->removeFromSuperview(); // the hold ends with the flip all the same
        });
        view->addSubview(banner);
        if (old)
            old->removeFromSuperview();
        kit::ViewAnimation::commitAnimations();
    }
    dropAd(m_currentlyDisplayedAd);
    m_currentlyDisplayedAd = std::move(fresh);
    m_loadingAd.reset();
}

void AdlarkController::newAdAnimationDidStop(const std::string&, bool, const std::any& context)
{
    if (auto* old = std::any_cast<std::shared_ptr<kit::View>>(&context); old && *old)
        (*old)->removeFromSuperview();
}

void AdlarkController::adDidFailToLoad(AdlarkAd& ad)
{
    if (&ad == m_currentlyDisplayedAd.get()) {
        auto keep = shared_from_this();
        if (auto delegate = m_delegate.lock())
            if (auto view = m_view.lock())
                delegate->didFailToReceiveAd(*view);
        dropAd(m_currentlyDisplayedAd);
    } else if (&ad == m_loadingAd.get()) {
        dropAd(m_loadingAd);
    }
}

void AdlarkController::clickInView(AdlarkSingleAdView& banner)
{
    auto keep = banner.shared_from_this();
    // A tap while the banner still answers the last one is the same click.
    if (banner.animatingForClick())
        return;
    if (auto ad = banner.ad())
        ad->click();
    banner.animateActionIconForClick();
}

void AdlarkController::removeSpinnerAndRestoreActionIconIfPossibleForAd(AdlarkAd& ad)
{
    auto view = m_view.lock();
    if (!view)
        return;
    auto* banner = dynamic_cast<AdlarkSingleAdView*>(view->viewWithTag(bannerTag));
    if (banner && banner->ad().get() == &ad)
        banner->removeSpinnerAndRestoreActionIcon();
}

void AdlarkController::displayCanvasWithAd(AdlarkAd& ad, const std::string& url)
{
    auto view = m_view.lock();
    auto address = kit::URL::withString(url);
    if (!view || !address)
        return;
    m_canvasController = AdlarkModalController::create<AdlarkCanvasController>();
    m_canvasController->setAdlarkDelegate(m_delegate);
    m_canvasController->presentCanvasFromView(view, *address, ad.userString().value_or(""));
}

void AdlarkController::displayEmbeddedBrowserWithAd(AdlarkAd&, const std::string& url)
{
    auto view = m_view.lock();
    auto address = kit::URL::withString(url);
    if (!view || !address)
        return;
    m_browserController = AdlarkModalController::create<AdlarkBrowserController>();
    m_browserController->setAdlarkDelegate(m_delegate);
    m_browserController->presentBrowserFromView(view, *address);
}
