// Activity indicator views: the turning wheel, white or grey, large or
// small, turning only while the view animates and someone can see it.
#include "shells/qt/ActivityWheel.h"
#include "shells/qt/PeerRegistry.h"

#include "kit/ui/ActivityIndicatorView.h"

#include <QTimer>

namespace qtshell {
namespace {

class ActivityIndicatorPeer : public ViewPeer {
public:
    ActivityIndicatorPeer(kit::ActivityIndicatorView& view, Scene& scene)
        : ViewPeer(view, scene)
    {
        // A turn a second, in twelve steps.
        m_spin.setInterval(83);
        QObject::connect(&m_spin, &QTimer::timeout, this, [this] {
            m_step = (m_step + 1) % 12;
            update();
        });
    }

protected:
    void contentChanged() override
    {
        updateSpin();
        update();
    }
    void showEvent(QShowEvent*) override { updateSpin(); }
    void hideEvent(QHideEvent*) override { updateSpin(); }

    void paintContent(QPainter& painter) override
    {
        auto* view = viewAs<kit::ActivityIndicatorView>();
        if (!view->isAnimating() && view->hidesWhenStopped())
            return;
        bool large = view->style() == kit::ActivityIndicatorViewStyle::WhiteLarge;
        QColor colour = view->style() == kit::ActivityIndicatorViewStyle::Gray ? QColor(128, 128, 128) : QColor(Qt::white);
        double scale = large ? 37.0 / 20.0 : 1.0;
        ActivityWheel { 4.5 * scale, 9.0 * scale, 2.2 * scale, colour }.draw(painter, QRectF(rect()).center(), m_step);
    }

private:
    void updateSpin()
    {
        auto* view = this->view() ? viewAs<kit::ActivityIndicatorView>() : nullptr;
        if (view && view->isAnimating() && isVisible())
            m_spin.start();
        else
            m_spin.stop();
    }

    QTimer m_spin;
    int m_step { 0 };
};

} // namespace

void addActivityIndicatorPeers()
{
    PeerRegistry::add<kit::ActivityIndicatorView, ActivityIndicatorPeer>();
}

} // namespace qtshell
