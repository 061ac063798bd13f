// The tab bar: equal items with their icons and titles over the bar's dark
// background, the selected one lit. A tap goes to kit (TabBar::touchesEnded).
//
// An item's icon is the desktop icon theme's picture for what the tab does,
// where the theme has one, else a drawing of our own; either is drawn as a
// single-colour shape, blue when selected, as the handheld draws its items.
#include "shells/qt/PeerRegistry.h"

#include "kit/ui/TabBarController.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>

namespace qtshell {
namespace {

struct TabIcon {
    const char* title;
    std::vector<const char*> themeNames;
};

const std::vector<TabIcon>& tabIcons()
{
    static const std::vector<TabIcon> icons {
        { "Welcome", { "go-home", "user-home" } },
        { "Browse", { "web-browser", "internet-web-browser", "applications-internet" } },
        { "Files", { "folder", "folder-open" } },
        { "Transfer", { "folder-download", "emblem-downloads", "go-down" } },
    };
    return icons;
}

// Our own drawings, in a 24 x 24 box.
QPainterPath ownDrawing(const std::string& title)
{
    QPainterPath path;
    if (title == "Welcome") { // a house
        path.moveTo(12, 2);
        path.lineTo(23, 12);
        path.lineTo(20, 12);
        path.lineTo(20, 22);
        path.lineTo(14.5, 22);
        path.lineTo(14.5, 15);
        path.lineTo(9.5, 15);
        path.lineTo(9.5, 22);
        path.lineTo(4, 22);
        path.lineTo(4, 12);
        path.lineTo(1, 12);
        path.closeSubpath();
    } else if (title == "Browse") { // a globe
        path.addEllipse(QPointF(12, 12), 10.5, 10.5);
        QPainterPath inner;
        inner.addEllipse(QPointF(12, 12), 4.5, 9);
        path = path.subtracted(inner);
        path.addRect(1.5, 11, 21, 2);
        path.addRect(11, 1.5, 2, 21);
    } else if (title == "Files") { // a folder
        path.moveTo(1, 5);
        path.lineTo(9, 5);
        path.lineTo(11, 7.5);
        path.lineTo(23, 7.5);
        path.lineTo(23, 21);
        path.lineTo(1, 21);
        path.closeSubpath();
    } else if (title == "Transfer") { // an arrow into a tray
        path.moveTo(9, 1);
        path.lineTo(15, 1);
        path.lineTo(15, 9);
        path.lineTo(20, 9);
        path.lineTo(12, 17);
        path.lineTo(4, 9);
        path.lineTo(9, 9);
        path.closeSubpath();
        path.addRect(1, 19, 22, 3);
    } else {
        path.addEllipse(QPointF(12, 12), 8, 8);
    }
    return path;
}

// The theme's picture for a tab, if the desktop has one.
QIcon themeIcon(const std::string& title)
{
    for (auto& icon : tabIcons()) {
        if (title != icon.title)
            continue;
        for (auto* name : icon.themeNames)
            if (QIcon::hasThemeIcon(QString::fromLatin1(name)))
                return QIcon::fromTheme(QString::fromLatin1(name));
    }
    return {};
}

// The icon as a single-colour shape of `ink`, `size` points square.
QPixmap tinted(const std::string& title, const QColor& ink, int size, qreal ratio)
{
    QPixmap out(int(size * ratio), int(size * ratio));
    out.setDevicePixelRatio(ratio);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    if (QIcon icon = themeIcon(title); !icon.isNull()) {
        p.drawPixmap(0, 0, icon.pixmap(QSize(size, size), ratio));
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(QRect(0, 0, size, size), ink);
    } else {
        p.scale(size / 24.0, size / 24.0);
        p.fillPath(ownDrawing(title), ink);
    }
    return out;
}

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
            const QColor ink = selected ? QColor(0x3d, 0x9b, 0xff) : QColor(0x9a, 0x9a, 0x9a);
            const int iconSize = 22;
            painter.drawPixmap(QPointF(item.center().x() - iconSize / 2.0, item.top() + 3),
                tinted(titles[i], ink, iconSize, devicePixelRatioF()));
            QFont font = toQFont(kit::Font::boldSystemFont(10));
            painter.setFont(font);
            painter.setPen(selected ? QColor(Qt::white) : QColor(0x9a, 0x9a, 0x9a));
            painter.drawText(QRectF(item.left(), item.bottom() - 16, item.width(), 14), Qt::AlignCenter,
                QString::fromStdString(titles[i]));
        }
    }
};

} // namespace

void addTabBarPeers()
{
    PeerRegistry::add<kit::TabBar, TabBarPeer>();
}

} // namespace qtshell
