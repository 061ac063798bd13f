#pragma once
// The opening and closing of a landing page, shared by the canvas panel and
// the embedded browser. Opening: the dimmed background grows from the ad
// view's rectangle (window coordinates) to the application frame in 0.5 s,
// then the page fades in (0.2 s). Closing: the page fades out (0.2 s), is
// released, the background shrinks back in 0.5 s and leaves the window, then
// the host hears the subclass's did-dismiss notice and the hold on the ad
// view ends. A close asked for while the opening runs takes effect 0.5 s
// after the fade-in ends.
//
// A close request from the start of the fade-out on is ignored: the page and
// the hold on the ad view are released once, and no animation runs on a
// released page.
//
// Ownership: the controller owns the page (modalView) and holds the ad view
// from the opening to the end of the closing; the window holds the
// background while it is shown (the controller refers to it). The host's
// delegate is not held. Make controllers with create<T>(): animations and
// the timer reach the controller through a weak reference, and its creator
// keeps it alive until the next page of the same kind opens.
#include "ads/AdlarkDelegate.h"
#include "ads/landing/AdlarkModalBackground.h"

#include "kit/core/Timer.h"
#include "kit/ui/View.h"

#include <memory>

class AdlarkModalController : public std::enable_shared_from_this<AdlarkModalController> {
public:
    static constexpr double dismissalDelay = 0.5;
    using DelegateNotice = void (AdlarkDelegate::*)();

    template<typename T>
    static std::shared_ptr<T> create()
    {
        return std::make_shared<T>();
    }
    AdlarkModalController() = default;
    virtual ~AdlarkModalController();
    AdlarkModalController(const AdlarkModalController&) = delete;
    AdlarkModalController& operator=(const AdlarkModalController&) = delete;

    std::shared_ptr<AdlarkDelegate> adlarkDelegate() const { return m_adlarkDelegate.lock(); }
    void setAdlarkDelegate(std::weak_ptr<AdlarkDelegate> delegate) { m_adlarkDelegate = std::move(delegate); }

    void presentModalFromView(std::shared_ptr<kit::View> adView);
    void dismissModal();

    // Did-stop messages of the animations (public for the animation blocks).
    void backgroundExpandAnimationDidStopWithAnimationID(const std::string&, bool, const std::any&);
    void modalViewDidFadeInWithAnimationID(const std::string&, bool, const std::any&);
    void modalViewDidFadeOutWithAnimationID(const std::string&, bool, const std::any&);
    void backgroundShrinkAnimationDidStopWithAnimationID(const std::string&, bool, const std::any&);

    // State, for the subclasses, the shells and tests.
    AdlarkModalBackground* background() const { return m_background.lock().get(); }
    const std::shared_ptr<kit::View>& modalView() const { return m_modalView; }
    const std::shared_ptr<kit::View>& adView() const { return m_adView; }
    bool presentationAnimationInProgress() const { return m_presentationAnimationInProgress; }
    bool dismissalRequested() const { return m_dismissalRequested; }
    // From the start of the fade-out to the end.
    bool isDismissing() const { return m_dismissing; }
    const std::shared_ptr<kit::Timer>& dismissalDelayTimer() const { return m_dismissalDelayTimer; }

protected:
    DelegateNotice willPresentSelector { nullptr };
    DelegateNotice didDismissSelector { nullptr };
    // Set by the subclass before presentModalFromView; owned from then on.
    void setModalView(std::shared_ptr<kit::View> view) { m_modalView = std::move(view); }

private:
    void notifyDelegate(DelegateNotice notice);
    void releaseDelayTimer();

    std::weak_ptr<AdlarkModalBackground> m_background;
    bool m_presentationAnimationInProgress { false };
    bool m_dismissalRequested { false };
    bool m_dismissing { false };
    std::weak_ptr<AdlarkDelegate> m_adlarkDelegate;
    std::shared_ptr<kit::View> m_modalView;
    std::shared_ptr<kit::View> m_adView;
    std::shared_ptr<kit::Timer> m_dismissalDelayTimer;
};
