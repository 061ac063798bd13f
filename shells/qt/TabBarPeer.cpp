// The tab bar: equal items with their titles over the bar's dark
// background, the selected one lit. A tap goes to kit (TabBar::touchesEnded).
#include "shells/qt/PeerRegistry.h"

#include "kit/TabBarController.h"

#include <QPainter>

namespace qtshell {
namespace {

class TabBarPeer : public ViewPeer {
public:
    TabBarPeer(kit::TabBar& bar, Scene& scene) : ViewPeer(bar, scene) { }

protected:
    void paintContent(QPainter& painter) override
    {
        auto* bar = viewAs<kit::TabBar>();
        auto& titles = bar->itemTitles();
        // A faint gloss on the upper half, as the handheld's bar has.
        QLinearGradient gloss(0, 0, 0, height() / 2.0);
        gloss.setColorAt(0, QColor(255, 255, 255, 40));
        gloss.setColorAt(1, QColor(255, 255, 255, 10));
        painter.fillRect(QRect(0, 0, width(), height() / 2), gloss);
        if (titles.empty())
            return;
        painter.setRenderHint(QPainter::Antialiasing);
        const double w = double(width()) / double(titles.size());
        for (size_t i = 0; i < titles.size(); ++i) {
            QRectF item(w * double(i) + 2, 2, w - 4, height() - 4);
            const bool selected = int(i) == bar->selectedIndex();
            if (selected) {
                painter.setPen(Qt::NoPen);
                painter.setBrush(QColor(255, 255, 255, 38));
                painter.drawRoundedRect(item, 4, 4);
            }
            // The item's mark: a dot, blue when selected.
            const QColor ink = selected ? QColor(0x3d, 0x9b, 0xff) : QColor(0x9a, 0x9a, 0x9a);
            painter.setPen(Qt::NoPen);
            painter.setBrush(ink);
            painter.drawEllipse(QPointF(item.center().x(), item.top() + 15), 8, 8);
            QFont font = toQFont(kit::Font::boldSystemFont(10));
            painter.setFont(font);
            painter.setPen(selected ? QColor(Qt::white) : QColor(0x9a, 0x9a, 0x9a));
            painter.drawText(QRectF(item.left(), item.bottom() - 16, item.width(), 14), Qt::AlignCenter,
                QString::fromStdString(titles[i]));
        }
    }
};

QUORVANE_PEER(kit::TabBar, TabBarPeer)

} // namespace
} // namespace qtshell
