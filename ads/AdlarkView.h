#pragma once
// The ad view: what the host asks for and places. requestAdWithDelegate()
// makes the view (320 × 48 at the origin, clear background) with its
// controller and starts the first ad request at once; the host puts the view
// on screen when its delegate hears didReceiveAd(), and may ask for a fresh
// ad at any time. The banner on display is the subview tagged 1.
//
// Ownership: the host holds the view; the view holds its controller
// (AdlarkViewInternal, the class of every ad view made); the controller
// refers to the view and to the host's delegate without holding them.
#include "kit/ui/View.h"

#include <memory>

class AdlarkController;
class AdlarkDelegate;

class AdlarkView : public kit::View {
public:
    static constexpr float width = 320, height = 48;

    // The delegate is not held; it must outlive its use or be dropped with
    // the view (the service checks it at every use).
    static std::shared_ptr<AdlarkView> requestAdWithDelegate(const std::shared_ptr<AdlarkDelegate>& delegate);
    virtual void requestFreshAd() = 0;
    // The host is going (its tab, or the application, ends): a landing page
    // still open lets go of the banner it holds, which would otherwise keep
    // itself, its ad and the page alive through one another.
    virtual void hostWillGo() = 0;

    std::string className() const override { return "AdlarkView"; }

protected:
    using kit::View::View;
};

class AdlarkViewInternal : public AdlarkView {
public:
    explicit AdlarkViewInternal(const kit::Rect& frame) : AdlarkView(frame) { }
    ~AdlarkViewInternal() override;
    std::string className() const override { return "AdlarkViewInternal"; }

    void requestFreshAd() override;
    void hostWillGo() override;
    const std::shared_ptr<AdlarkController>& controller() const { return m_controller; }
    void setController(std::shared_ptr<AdlarkController> controller) { m_controller = std::move(controller); }

private:
    std::shared_ptr<AdlarkController> m_controller;
};
