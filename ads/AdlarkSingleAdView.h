#pragma once
// AdlarkSingleAdView: one ad inside the ad view. It draws the ad's
// background, icon, text and the caption "Ads by Adlark", shows the ad's
// action icon on a layer of its own at the right-hand end, darkens itself
// while a finger is on it, reports a tap to the ad view's controller, and
// gives feedback while the controller's click runs: the icon pulses and
// vanishes, a spinner (tag 2) turns in its place until the click has
// finished, then the icon comes back.
//
// Ownership: the view holds its ad and its two one-shot timers. The timers
// and the pulse refer to the view without holding it (a view and its own
// timer holding each other would never be freed); the view invalidates its
// timers when it goes, so nothing fires for a view that is gone. The action
// icon layer belongs to the view's layer tree; the
// view only refers to it. The spinner and the highlight overlay (tag 3)
// belong to the view's subviews. Main thread only.
#include "kit/ui/DrawingView.h"
#include "kit/gfx/Image.h"
#include "kit/core/Timer.h"

#include <memory>
#include <string>

class AdlarkAd;

class AdlarkSingleAdView : public kit::DrawingView {
public:
    static constexpr float inset = 4.0f;          // icon's left inset, action icon's right inset, text-to-caption gap
    static constexpr float gap = 8.0f;            // icon footprint to text, text to action icon
    static constexpr float bevelRadius = 6.5f;
    static constexpr float textFontSize = 13.0f;   // "Helvetica-Bold"
    static constexpr float captionFontSize = 9.5f; // "Helvetica"
    static constexpr float largestTextHeightWithCaption = 24.0f;
    static constexpr float shineFraction = 0.4375f;
    static constexpr float darkBevelWhite = 0.4f;
    static constexpr float lightBevelWhite = 0.937f;
    static constexpr double pulseDuration = 0.5;
    static constexpr double feedbackDelay = 0.3; // before the spinner shows, and before the icon returns
    static constexpr const char* pulseAnimationKey = "AdlarkPulseAnimation";
    static constexpr const char* caption = "Ads by Adlark";
    static constexpr int spinnerTag = 2;
    static constexpr int highlightTag = 3;

    // initWithFrame: an opaque view of that frame, without an ad.
    static std::shared_ptr<AdlarkSingleAdView> initWithFrame(const kit::Rect& frame);
    explicit AdlarkSingleAdView(const kit::Rect& frame);
    ~AdlarkSingleAdView() override;
    std::string className() const override { return "AdlarkSingleAdView"; }
    std::string displayText() const override;
    // To a screen reader the banner is a link, named by its ad's text (a
    // picture ad: "Advertisement"), that opens the ad as a tap does. Without
    // an ad to show it is no object.
    kit::AccessibilityRole accessibilityRole() const override;
    std::string accessibilityName() const override;
    kit::AccessibilityState accessibilityState() const override;
    bool canActivate() const override;
    bool activate() override;

    // Holds the new ad, drops every sublayer and makes the new action icon layer.
    void setAd(std::shared_ptr<AdlarkAd> ad);
    const std::shared_ptr<AdlarkAd>& ad() const { return m_ad; }

    void drawRect(kit::GraphicsContext& context, const kit::Rect& rect) override;

    // Click feedback, from the controller.
    void animateActionIconForClick();
    void removeSpinnerAndRestoreActionIcon();

    // Touches, in the view's coordinates.
    void touchesBegan(kit::Point point) override;
    void touchesMoved(kit::Point point) override;
    void touchesEnded(kit::Point point) override;
    void touchesCancelled() override;
    bool touchIsInSelf(kit::Point point) const;
    void setTouched(bool touched);

    // Callbacks of the pulse and the two timers.
    void animationDidStop(kit::Animation& animation, bool finished);
    void addSpinner(kit::Timer& timer, kit::Point centre);
    void removeSpinnerAndRestoreActionIconDelayed(kit::Timer& timer);

    // The footprint of a bevelled image: one point more each way (a missing
    // image counts as size zero).
    static kit::Size sizeWithBevelsAndRoundedCornersForImage(const kit::Image* image);
    // The image clipped to rounded corners at the point, with a two-tone bevel.
    static void drawImage(kit::GraphicsContext& context, const kit::Image* image, kit::Point point, float radius);

    // State, for the dump and tests.
    bool touched() const { return m_touched; }
    bool animatingForClick() const { return m_animatingForClick; }
    bool removeSpinnerRequested() const { return m_removeSpinnerRequested; }
    kit::Layer* actionIconLayer() const { return m_actionIconLayer.lock().get(); }
    bool hasAddSpinnerTimer() const { return m_addSpinnerTimer != nullptr; }
    bool hasRemoveSpinnerTimer() const { return m_removeSpinnerTimer != nullptr; }

private:
    void drawShineBackgroundWithBaseColor(kit::GraphicsContext& context, const kit::Color& base);
    void setActionIcon(std::shared_ptr<const kit::Image> image);
    void scheduleRestore();
    static void dropTimer(std::shared_ptr<kit::Timer>& timer);
    std::weak_ptr<AdlarkSingleAdView> weakSelf();

    std::shared_ptr<AdlarkAd> m_ad;
    std::weak_ptr<kit::Layer> m_actionIconLayer;
    bool m_touched { false };
    bool m_animatingForClick { false };
    bool m_removeSpinnerRequested { false };
    std::shared_ptr<kit::Timer> m_removeSpinnerTimer;
    std::shared_ptr<kit::Timer> m_addSpinnerTimer;
};
