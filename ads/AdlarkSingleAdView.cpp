#include "ads/AdlarkSingleAdView.h"

#include "ads/AdlarkAd.h"
#include "ads/AdlarkController.h"
#include "ads/AdlarkView.h"

#include "kit/ui/ActivityIndicatorView.h"
#include "kit/gfx/Fonts.h"

#include <numbers>

namespace {
constexpr float pi = std::numbers::pi_v<float>;
}

std::shared_ptr<AdlarkSingleAdView> AdlarkSingleAdView::initWithFrame(const kit::Rect& frame)
{
    return kit::View::create<AdlarkSingleAdView>(frame);
}

AdlarkSingleAdView::AdlarkSingleAdView(const kit::Rect& frame)
    : kit::DrawingView(frame)
{
    setOpaque(true);
}

AdlarkSingleAdView::~AdlarkSingleAdView()
{
    dropTimer(m_addSpinnerTimer);
    dropTimer(m_removeSpinnerTimer);
}

std::string AdlarkSingleAdView::displayText() const
{
    if (!m_ad || !m_ad->readyForDisplay())
        return {};
    if (m_ad->medium() == AdlarkAd::MediumBanner)
        return "(banner picture)";
    return m_ad->medium() == AdlarkAd::MediumText ? m_ad->text().value_or("") : std::string();
}

kit::AccessibilityRole AdlarkSingleAdView::accessibilityRole() const
{
    return canActivate() ? kit::AccessibilityRole::Link : kit::AccessibilityRole::None;
}

std::string AdlarkSingleAdView::accessibilityName() const
{
    if (!canActivate())
        return {};
    auto text = m_ad->medium() == AdlarkAd::MediumText ? m_ad->text().value_or("") : std::string();
    return labelOr(text.empty() ? "Advertisement" : text);
}

kit::AccessibilityState AdlarkSingleAdView::accessibilityState() const
{
    kit::AccessibilityState state;
    state.focusable = canActivate();
    return state;
}

bool AdlarkSingleAdView::canActivate() const
{
    return m_ad && m_ad->readyForDisplay();
}

bool AdlarkSingleAdView::activate()
{
    if (!canActivate())
        return false;
    // A tap in the middle: the same feedback and click a finger gives.
    auto keep = retain();
    const kit::Point centre { frame().width() / 2, frame().height() / 2 };
    touchesBegan(centre);
    touchesEnded(centre);
    return true;
}

std::weak_ptr<AdlarkSingleAdView> AdlarkSingleAdView::weakSelf()
{
    return std::static_pointer_cast<AdlarkSingleAdView>(shared_from_this());
}

void AdlarkSingleAdView::dropTimer(std::shared_ptr<kit::Timer>& timer)
{
    if (timer)
        timer->invalidate();
    timer.reset();
}

void AdlarkSingleAdView::setAd(std::shared_ptr<AdlarkAd> ad)
{
    m_ad = std::move(ad);
    layer().setSublayers({});
    setActionIcon(m_ad ? m_ad->actionImage() : nullptr);
}

// --- Drawing ---

kit::Size AdlarkSingleAdView::sizeWithBevelsAndRoundedCornersForImage(const kit::Image* image)
{
    float w = image ? float(image->width()) : 0, h = image ? float(image->height()) : 0;
    return { w + 1, h + 1 };
}

void AdlarkSingleAdView::drawImage(kit::GraphicsContext& context, const kit::Image* image, kit::Point point, float r)
{
    float w = image ? float(image->width()) : 0, h = image ? float(image->height()) : 0;
    float x = point.x, y = point.y;

    // The picture, clipped to a rectangle with round corners half a point in.
    context.saveGState();
    float left = x + 0.5f, top = y + 0.5f, right = x + 0.5f + w, bottom = y + 0.5f + h, rc = r + 0.5f;
    context.beginPath();
    context.moveTo({ left, top + rc });
    context.addArcToPoint({ left, bottom }, { right, bottom }, rc);
    context.addArcToPoint({ right, bottom }, { right, top }, rc);
    context.addArcToPoint({ right, top }, { left, top }, rc);
    context.addArcToPoint({ left, top }, { left, bottom }, rc);
    context.clip();
    if (image)
        context.drawImage(*image, point);
    context.restoreGState();

    // The bevel: dark left and top, light right and bottom, changing colour
    // at the 45° points of the top-right and bottom-left corners.
    float L = x + 0.25f, T = y + 0.25f, R = x + w + 0.75f, B = y + h + 0.75f;
    auto dark = kit::colorWithWhite(darkBevelWhite, 1.0f);
    auto light = kit::colorWithWhite(lightBevelWhite, 1.0f);
    context.setLineWidth(0.5f);

    context.beginPath();
    context.setStrokeColor(dark);
    context.moveTo({ L, B - r });
    context.addArcToPoint({ L, T }, { L + r, T }, r);
    context.addArc({ R - r, T + r }, r, 3 * pi / 2, 7 * pi / 4);
    context.strokePath();

    context.beginPath();
    context.setStrokeColor(light);
    context.addArc({ R - r, T + r }, r, 7 * pi / 4, 2 * pi);
    context.addArcToPoint({ R, B }, { R - r, B }, r);
    context.addArc({ L + r, B - r }, r, pi / 2, 3 * pi / 4);
    context.strokePath();

    context.beginPath();
    context.setStrokeColor(dark);
    context.addArc({ L + r, B - r }, r, 3 * pi / 4, pi);
    context.strokePath();
}

void AdlarkSingleAdView::drawShineBackgroundWithBaseColor(kit::GraphicsContext& context, const kit::Color& base)
{
    float W = frame().width(), H = frame().height();
    context.setFillColor(kit::Color::white());
    context.fillRect({ 0, 0, W, H });
    context.drawLinearGradient(kit::colorWithAlpha(base, 0.5f), base, { 0.5f * W, 0 }, { 0.5f * W, shineFraction * H });
}

void AdlarkSingleAdView::drawRect(kit::GraphicsContext& context, const kit::Rect&)
{
    if (!m_ad || !m_ad->readyForDisplay())
        return;
    float W = frame().width(), H = frame().height();
    auto medium = m_ad->medium();
    auto userImage = m_ad->userImage();
    if (medium == AdlarkAd::MediumBanner) {
        if (userImage)
            context.drawImage(*userImage, { 0, 0 });
    } else {
        drawShineBackgroundWithBaseColor(context, m_ad->backgroundColor());
    }
    if (medium != AdlarkAd::MediumText)
        return;

    auto footprint = sizeWithBevelsAndRoundedCornersForImage(userImage.get());
    drawImage(context, userImage.get(), { inset, (H - footprint.height) * 0.5f }, bevelRadius);

    auto actionImage = m_ad->actionImage();
    float actionWidth = actionImage ? float(actionImage->width()) : 0;
    float x = footprint.width + inset + gap;
    float right = W - inset - actionWidth - gap;
    auto textFont = kit::Fonts::helveticaBold(textFontSize);
    auto captionFont = kit::Fonts::helvetica(captionFontSize);
    std::string text = m_ad->text().value_or("");
    auto textSize = kit::Fonts::measure(text, textFont, { std::max(0.0f, right - x), H });

    bool withCaption = textSize.height <= largestTextHeightWithCaption;
    kit::Size captionSize;
    float blockHeight = textSize.height;
    if (withCaption) {
        captionSize = kit::Fonts::measure(caption, captionFont);
        blockHeight = textSize.height + inset + captionSize.height;
    }
    float y = (H - blockHeight) * 0.5f;
    context.setFillColor(m_ad->textColor());
    if (m_ad->text())
        context.drawText(text, { x, y, textSize.width, textSize.height }, textFont);
    if (withCaption)
        context.drawText(caption, { right - captionSize.width, y + textSize.height + inset, captionSize.width, captionSize.height }, captionFont);
}

void AdlarkSingleAdView::setActionIcon(std::shared_ptr<const kit::Image> image)
{
    float W = frame().width(), H = frame().height();
    float aw = image ? float(image->width()) : 0, ah = image ? float(image->height()) : 0;
    auto icon = kit::Layer::create();
    icon->setFrame({ W - inset - aw, (H - ah) * 0.5f, aw, ah });
    icon->setContents(std::move(image));
    layer().addSublayer(icon);
    m_actionIconLayer = icon;
}

// --- Touches ---

bool AdlarkSingleAdView::touchIsInSelf(kit::Point point) const
{
    return kit::Rect(0, 0, frame().width(), frame().height()).contains(point);
}

void AdlarkSingleAdView::setTouched(bool touched)
{
    if (touched == m_touched)
        return;
    if (touched) {
        auto overlay = kit::View::create(kit::Rect { 0, 0, frame().width(), frame().height() });
        overlay->setBackgroundColor(kit::colorWithWhite(0.5f, 0.5f));
        overlay->setTag(highlightTag);
        addSubview(overlay);
    } else if (auto* overlay = viewWithTag(highlightTag)) {
        overlay->removeFromSuperview();
    }
    m_touched = touched;
}

void AdlarkSingleAdView::touchesBegan(kit::Point)
{
    setTouched(true);
}

void AdlarkSingleAdView::touchesMoved(kit::Point point)
{
    setTouched(touchIsInSelf(point));
}

void AdlarkSingleAdView::touchesEnded(kit::Point point)
{
    auto keep = shared_from_this();
    setTouched(false);
    if (!touchIsInSelf(point))
        return;
    if (auto* adView = dynamic_cast<AdlarkViewInternal*>(superview()))
        if (auto controller = adView->controller())
            controller->click(*this);
}

void AdlarkSingleAdView::touchesCancelled()
{
    setTouched(false);
}

// --- Click feedback ---

void AdlarkSingleAdView::animateActionIconForClick()
{
    auto icon = m_actionIconLayer.lock();
    // With no icon there is no pulse whose end would show the spinner: a
    // flag set now would never clear, and the finished click would then
    // leave the icon away for good. A pulse already running stays: replacing
    // it would end it early and take the icon away twice.
    if (!icon || m_animatingForClick)
        return;
    m_animatingForClick = true;
    auto pulse = kit::KeyframeAnimation::create("transform");
    pulse->keyTimes = { 0.0, 0.4, 1.0 };
    pulse->values = { kit::Transform3D::scale(1, 1, 1), kit::Transform3D::scale(1.4f, 1.4f, 1), kit::Transform3D::scale(0.1f, 0.1f, 1) };
    pulse->duration = pulseDuration;
    pulse->removedOnCompletion = false;
    auto self = weakSelf();
    pulse->didStop = [self](kit::Animation& animation, bool finished) {
        if (auto view = self.lock())
            view->animationDidStop(animation, finished);
    };
    icon->addAnimation(pulse, pulseAnimationKey);
    icon->setTransform(kit::Transform3D::scale(0.1f, 0.1f, 1));
}

void AdlarkSingleAdView::animationDidStop(kit::Animation& animation, bool)
{
    // Only the end of the pulse on the icon layer shown now counts: a pulse
    // whose layer has gone (a new ad, a restored icon) has nothing to take
    // away and no place to put a spinner.
    auto icon = m_actionIconLayer.lock();
    if (!icon || icon->animationForKey(pulseAnimationKey) != &animation)
        return;
    auto f = icon->frame();
    kit::Point centre { f.x() + f.width() / 2, f.y() + f.height() / 2 };
    icon->removeFromSuperlayer();
    m_actionIconLayer.reset();
    dropTimer(m_addSpinnerTimer);
    auto self = weakSelf();
    m_addSpinnerTimer = kit::Timer::scheduled(feedbackDelay, false, [self, centre](kit::Timer& timer) {
        if (auto view = self.lock())
            view->addSpinner(timer, centre);
    });
}

void AdlarkSingleAdView::addSpinner(kit::Timer& timer, kit::Point centre)
{
    auto style = m_ad && m_ad->spinnerStyle() == 2 ? kit::ActivityIndicatorViewStyle::Gray : kit::ActivityIndicatorViewStyle::White;
    auto spinner = kit::View::create<kit::ActivityIndicatorView>(kit::Rect { 0, 0, 20, 20 }, style);
    spinner->setCenter(centre);
    spinner->setTag(spinnerTag);
    addSubview(spinner);
    spinner->startAnimating();
    m_animatingForClick = false;
    if (m_removeSpinnerRequested)
        scheduleRestore();
    if (m_addSpinnerTimer.get() == &timer)
        dropTimer(m_addSpinnerTimer);
}

void AdlarkSingleAdView::scheduleRestore()
{
    dropTimer(m_removeSpinnerTimer);
    auto self = weakSelf();
    m_removeSpinnerTimer = kit::Timer::scheduled(feedbackDelay, false, [self](kit::Timer& timer) {
        if (auto view = self.lock())
            view->removeSpinnerAndRestoreActionIconDelayed(timer);
    });
}

void AdlarkSingleAdView::removeSpinnerAndRestoreActionIcon()
{
    if (m_animatingForClick) {
        m_removeSpinnerRequested = true;
        return;
    }
    scheduleRestore();
}

void AdlarkSingleAdView::removeSpinnerAndRestoreActionIconDelayed(kit::Timer& timer)
{
    if (auto* spinner = viewWithTag(spinnerTag))
        spinner->removeFromSuperview();
    layer().setSublayers({});
    setActionIcon(m_ad ? m_ad->actionImage() : nullptr);
    m_removeSpinnerRequested = false;
    if (m_removeSpinnerTimer.get() == &timer)
        dropTimer(m_removeSpinnerTimer);
}
