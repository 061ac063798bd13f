#include "ads/AdlarkView.h"

#include "ads/AdlarkController.h"

std::shared_ptr<AdlarkView> AdlarkView::requestAdWithDelegate(const std::shared_ptr<AdlarkDelegate>& delegate)
{
    auto view = kit::View::create<AdlarkViewInternal>(kit::Rect { 0, 0, width, height });
    // kit's views keep their size when the parent's changes; the background
    // is clear so that nothing shows before the first banner.
    view->setBackgroundColor(kit::Color::clear());
    auto controller = AdlarkController::create();
    controller->setView(view);
    controller->setDelegate(delegate);
    view->setController(controller);
    controller->startFirstAdRequest();
    return view;
}

AdlarkViewInternal::~AdlarkViewInternal() = default;

void AdlarkViewInternal::requestFreshAd()
{
    if (auto controller = m_controller)
        controller->requestFreshAd();
}

void AdlarkViewInternal::hostWillGo()
{
    if (auto controller = m_controller)
        controller->releaseLandingPages();
}
