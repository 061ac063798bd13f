#include "ads/landing/AdlarkCanvasController.h"

#include "kit/core/WeakBind.h"
#include "kit/ui/Window.h"

AdlarkCanvasController::AdlarkCanvasController()
{
    willPresentSelector = &AdlarkDelegate::willPresentModalCanvas;
    didDismissSelector = &AdlarkDelegate::didDismissModalCanvas;
}

void AdlarkCanvasController::presentCanvasFromView(std::shared_ptr<kit::View> adView, const kit::URL& url, const std::string& title)
{
    auto keep = shared_from_this();
    const auto frame = kit::Window::applicationFrame();
    const float aw = frame.width(), ah = frame.height();
    auto panel = kit::View::create<AdlarkCanvasWebView>(kit::Rect {
        (aw - AdlarkCanvasWebView::width) * 0.5f, (ah - AdlarkCanvasWebView::height) * 0.5f, AdlarkCanvasWebView::width, AdlarkCanvasWebView::height });
    panel->setAutoresizingMask(kit::ViewAutoresizingFlexibleMargins);
    setModalView(panel);
    panel->dismissSelector = kit::bindWeak(*this, &AdlarkModalController::dismissModal);
    panel->setCanvasUrl(url);
    panel->setCanvasTitle(title);
    panel->startLoadingCanvas();
    presentModalFromView(std::move(adView));
}
