#pragma once
// Opens a canvas ad's panel (AdlarkCanvasWebView, 320 x 295 centred in the
// application frame) through the modal presentation; the host hears
// willPresentModalCanvas and didDismissModalCanvas.
#include "ads/landing/AdlarkCanvasWebView.h"
#include "ads/landing/AdlarkModalController.h"

class AdlarkCanvasController : public AdlarkModalController {
public:
    AdlarkCanvasController();
    // Loading starts before the panel is on screen.
    void presentCanvasFromView(std::shared_ptr<kit::View> adView, const kit::URL& url, const std::string& title);
    AdlarkCanvasWebView* canvasView() const { return dynamic_cast<AdlarkCanvasWebView*>(modalView().get()); }
};
