#include "ads/landing/AdlarkModalController.h"

#include "kit/ui/Application.h"
#include "kit/core/WeakBind.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/Window.h"

AdlarkModalController::~AdlarkModalController()
{
    releaseDelayTimer();
}

void AdlarkModalController::releaseDelayTimer()
{
    if (m_dismissalDelayTimer)
        m_dismissalDelayTimer->invalidate();
    m_dismissalDelayTimer.reset();
}

void AdlarkModalController::notifyDelegate(DelegateNotice notice)
{
    if (!notice)
        return;
    if (auto delegate = m_adlarkDelegate.lock())
        ((*delegate).*notice)();
}

void AdlarkModalController::presentModalFromView(std::shared_ptr<kit::View> adView)
{
    auto keep = shared_from_this();
    m_adView = std::move(adView);
    notifyDelegate(willPresentSelector);

    kit::Rect start = m_adView ? m_adView->frame() : kit::Rect {};
    kit::Window* window = m_adView ? m_adView->window() : nullptr;
    if (m_adView && m_adView->superview())
        start = m_adView->convertToAncestor(window);
    if (!window && kit::Application::exists())
        window = kit::Application::shared().keyWindow();

    auto background = kit::View::create<AdlarkModalBackground>(start);
    background->dismissSelector = kit::bindWeak(*this, &AdlarkModalController::dismissModal);
    background->didExpandSelector = kit::bindWeak(*this, &AdlarkModalController::backgroundExpandAnimationDidStopWithAnimationID);
    background->didShrinkSelector = kit::bindWeak(*this, &AdlarkModalController::backgroundShrinkAnimationDidStopWithAnimationID);
    // Over the whole screen: a screen reader meets the landing page, not what it covers.
    background->setAccessibilityViewIsModal(true);
    m_background = background;
    if (window)
        window->addSubview(background);
    m_presentationAnimationInProgress = true;
    background->expand();
}

void AdlarkModalController::backgroundExpandAnimationDidStopWithAnimationID(const std::string&, bool, const std::any&)
{
    auto background = m_background.lock();
    if (!m_modalView || m_dismissing)
        return;
    m_modalView->setAlpha(0);
    if (background)
        background->addSubview(m_modalView);
    kit::ViewAnimation::beginAnimations("fadeInModalView");
    kit::ViewAnimation::setAnimationDidStop(kit::bindWeak(*this, &AdlarkModalController::modalViewDidFadeInWithAnimationID));
    m_modalView->setAlpha(1);
    kit::ViewAnimation::commitAnimations();
}

void AdlarkModalController::modalViewDidFadeInWithAnimationID(const std::string&, bool, const std::any&)
{
    m_presentationAnimationInProgress = false;
    if (!m_dismissalRequested)
        return;
    releaseDelayTimer();
    auto dismiss = kit::bindWeak(*this, &AdlarkModalController::dismissModal);
    m_dismissalDelayTimer = kit::Timer::scheduled(dismissalDelay, false, [dismiss](kit::Timer&) { dismiss(); });
}

void AdlarkModalController::dismissModal()
{
    if (m_presentationAnimationInProgress) {
        m_dismissalRequested = true;
        return;
    }
    // Closing already: the page goes once.
    if (m_dismissing || !m_modalView)
        return;
    m_dismissing = true;
    releaseDelayTimer();
    kit::ViewAnimation::beginAnimations("fadeOutModalView");
    kit::ViewAnimation::setAnimationDidStop(kit::bindWeak(*this, &AdlarkModalController::modalViewDidFadeOutWithAnimationID));
    m_modalView->setAlpha(0);
    kit::ViewAnimation::commitAnimations();
}

void AdlarkModalController::modalViewDidFadeOutWithAnimationID(const std::string&, bool, const std::any&)
{
    auto keep = shared_from_this();
    if (auto page = std::move(m_modalView))
        page->removeFromSuperview();
    if (auto background = m_background.lock())
        background->shrink();
    else
        backgroundShrinkAnimationDidStopWithAnimationID("AdlarkModalBackgroundShrink", true, {});
}

void AdlarkModalController::backgroundShrinkAnimationDidStopWithAnimationID(const std::string&, bool, const std::any&)
{
    auto keep = shared_from_this();
    if (auto background = m_background.lock())
        background->removeFromSuperview();
    m_background.reset();
    notifyDelegate(didDismissSelector);
    m_adView.reset();
}
