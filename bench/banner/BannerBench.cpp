// bench-banner: one text-ad banner drawn through kit's drawing context and
// the Qt backend, beside the same picture drawn directly with QPainter (target:
// at most 1.5 times the direct time); then the frames per second the window
// keeps while the action icon pulses, offscreen. Prints its numbers.
#include "shells/qt/QtGraphicsContext.h"
#include "shells/qt/Scene.h"
#include "shells/qt/TurnOverlay.h"

#include "ads/AdlarkAd.h"
#include "ads/AdlarkSingleAdView.h"
#include "kit/gfx/Fonts.h"
#include "kit/core/RunLoop.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numbers>

namespace {

std::shared_ptr<const kit::Image> picture(int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    std::vector<uint8_t> pixels(size_t(w) * h * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = r;
        pixels[i + 1] = g;
        pixels[i + 2] = b;
        pixels[i + 3] = 255;
    }
    return kit::Image::fromRGBA(w, h, std::move(pixels));
}

QImage wrap(const kit::Image& image)
{
    return QImage(image.pixels().data(), image.width(), image.height(), image.width() * 4, QImage::Format_RGBA8888);
}

// The banner's picture as one would paint it straight onto a QPainter.
void drawDirectly(QPainter& p, const kit::Image& icon, const kit::Image& action, const QFont& bold, const QFont& caption)
{
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    const QColor base(113, 131, 161);
    p.fillRect(QRectF(0, 0, 320, 48), Qt::white);
    QLinearGradient shine(160, 0, 160, 21);
    QColor top = base;
    top.setAlphaF(0.5);
    shine.setColorAt(0, top);
    shine.setColorAt(1, base);
    p.fillRect(QRectF(0, 0, 320, 48), shine);
    p.save();
    QPainterPath outline;
    outline.addRoundedRect(QRectF(4.5, 5, 38, 38), 7, 7);
    p.setClipPath(outline);
    p.drawImage(QPointF(4, 4.5), wrap(icon));
    p.restore();
    const double r = 6.5, L = 4.25, T = 4.75, R = 42.75, B = 43.25;
    auto stroke = [&](const QPainterPath& path, QColor c) { p.strokePath(path, QPen(c, 0.5)); };
    QPainterPath dark;
    dark.moveTo(L, B - r);
    dark.arcTo(QRectF(L, T, 2 * r, 2 * r), 180, -90);
    dark.arcTo(QRectF(R - 2 * r, T, 2 * r, 2 * r), 90, -45);
    stroke(dark, QColor(102, 102, 102));
    QPainterPath light;
    light.arcMoveTo(QRectF(R - 2 * r, T, 2 * r, 2 * r), 45);
    light.arcTo(QRectF(R - 2 * r, T, 2 * r, 2 * r), 45, -45);
    light.arcTo(QRectF(R - 2 * r, B - 2 * r, 2 * r, 2 * r), 0, -90);
    light.arcTo(QRectF(L, B - 2 * r, 2 * r, 2 * r), 270, -45);
    stroke(light, QColor(239, 239, 239));
    QPainterPath corner;
    corner.arcMoveTo(QRectF(L, B - 2 * r, 2 * r, 2 * r), 225);
    corner.arcTo(QRectF(L, B - 2 * r, 2 * r, 2 * r), 225, -45);
    stroke(corner, QColor(102, 102, 102));
    p.setPen(Qt::white);
    p.setFont(bold);
    p.drawText(QRectF(51, 10.5, 227, 13), Qt::TextWordWrap, QStringLiteral("Try the Quorvane test ad"));
    p.setFont(caption);
    p.drawText(QRectF(219, 27.5, 59, 10), 0, QStringLiteral("Ads by Adlark"));
    p.drawImage(QRectF(286, 9, 30, 30), wrap(action));
}

template<typename F>
double microsecondsPerFrame(int frames, F&& draw)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < frames; ++i)
        draw();
    return double(t.nsecsElapsed()) / 1000.0 / frames;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::atoi(argv[1]) : 3000;

    auto ad = AdlarkAd::createReady({ AdlarkAd::MediumText, std::string("Try the Quorvane test ad"), picture(38, 38, 200, 40, 40),
        picture(30, 30, 40, 200, 40) });
    auto banner = AdlarkSingleAdView::initWithFrame({ 0, 0, 320, 48 });
    banner->setAd(ad);

    QFont bold(QStringLiteral("Helvetica"));
    bold.setPixelSize(13);
    bold.setBold(true);
    QFont caption(QStringLiteral("Helvetica"));
    caption.setPixelSize(10);

    std::printf("bench-banner: one 320 x 48 text-ad banner, %d frames each\n", frames);
    for (int ratio : { 1, 2 }) {
        QImage target(320 * ratio, 48 * ratio, QImage::Format_ARGB32_Premultiplied);
        target.setDevicePixelRatio(ratio);
        // Warm both paths (font files, glyph caches) before timing.
        auto throughKit = [&] {
            QPainter painter(&target);
            {
                qtshell::QtGraphicsContext context(painter);
                banner->drawRect(context, banner->bounds());
            }
            qtshell::QtGraphicsContext::drawSublayers(painter, banner->layer(), 0);
        };
        auto direct = [&] {
            QPainter painter(&target);
            drawDirectly(painter, *ad->userImage(), *ad->actionImage(), bold, caption);
        };
        microsecondsPerFrame(200, throughKit);
        microsecondsPerFrame(200, direct);
        // The machine may be shared: rounds taken in turn, the best of each kept.
        double kitTime = 1e9, directTime = 1e9;
        for (int round = 0; round < 10; ++round) {
            kitTime = std::min(kitTime, microsecondsPerFrame(frames / 10, throughKit));
            directTime = std::min(directTime, microsecondsPerFrame(frames / 10, direct));
        }
        std::printf("  pixel ratio %d: kit context %.1f us, QPainter directly %.1f us, ratio %.2f (target <= 1.5)\n", ratio, kitTime,
            directTime, kitTime / directTime);
    }

    // In a shown window: frames painted per second during the icon's 0.5 s
    // pulse, and during a 0.7 s flip to a new banner.
    kit::RunLoop::main().setClock(std::make_shared<kit::RealClock>());
    auto window = std::make_shared<kit::Window>();
    auto adView = kit::View::create(kit::Rect { 0, 384, 320, 48 });
    window->addSubview(adView);
    adView->addSubview(banner);
    QWidget host;
    host.resize(320, 480);
    qtshell::Scene scene(*window, &host);
    host.show();
    QApplication::processEvents();
    // Paints of the watched widget, or of any widget that passes `counts`.
    struct Counter : QObject {
        QObject* watched { nullptr };
        int paints = 0;
        bool eventFilter(QObject* object, QEvent* e) override
        {
            bool counted = watched ? object == watched : dynamic_cast<qtshell::TurnOverlay*>(object) != nullptr;
            paints += e->type() == QEvent::Paint && counted;
            return false;
        }
    };
    // The pulse repaints the banner's peer; the flip, the overlay that turns
    // the ad view's picture (the peer itself is hidden meanwhile).
    auto measure = [&](kit::View* watched, double seconds, const char* what) {
        Counter counter;
        counter.watched = watched ? scene.peerFor(watched) : nullptr;
        qApp->installEventFilter(&counter);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < seconds * 1000) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            kit::RunLoop::main().runOnce(0);
        }
        qApp->removeEventFilter(&counter);
        std::printf("  %s in the window: %d frames in %.2f s, %.0f frames per second\n", what, counter.paints, t.elapsed() / 1000.0,
            counter.paints / (t.elapsed() / 1000.0));
    };
    banner->animateActionIconForClick();
    measure(banner.get(), 0.5, "the pulse");

    auto fresh = AdlarkSingleAdView::initWithFrame({ 0, 0, 320, 48 });
    fresh->setAd(ad);
    kit::ViewAnimation::beginAnimations("newAdlarkAd");
    kit::ViewAnimation::setAnimationDuration(0.7);
    kit::ViewAnimation::setAnimationTransition(kit::AnimationTransition::FlipFromRight, *adView, true);
    adView->addSubview(fresh);
    banner->removeFromSuperview();
    kit::ViewAnimation::commitAnimations();
    measure(nullptr, 0.7, "the flip");
    return 0;
}
