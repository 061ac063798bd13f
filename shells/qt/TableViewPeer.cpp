// Tables: kit lays out the visible cells as subviews for the content
// offset; the peer only turns the mouse wheel into offsets. Drags and taps
// on rows reach the table through the scene's touch routing.
#include "shells/qt/CellText.h"
#include "shells/qt/PeerRegistry.h"
#include "shells/qt/TextDrawing.h"

#include "kit/ui/TableView.h"

#include <QWheelEvent>

namespace qtshell {
namespace {

class TableViewPeer : public ViewPeer {
public:
    TableViewPeer(kit::TableView& table, Scene& scene) : ViewPeer(table, scene) { }
};

class TableViewCellPeer : public ViewPeer {
public:
    TableViewCellPeer(kit::TableViewCell& cell, Scene& scene) : ViewPeer(cell, scene) { }

protected:
    void paintContent(QPainter& painter) override
    {
        auto* cell = viewAs<kit::TableViewCell>();
        QColor ink = Qt::black;
        if (cell->isSelected()) {
            QLinearGradient g(0, 0, 0, height());
            g.setColorAt(0, QColor(0x05, 0x8c, 0xf5));
            g.setColorAt(1, QColor(0x01, 0x5e, 0xe6));
            painter.fillRect(rect(), g);
            ink = Qt::white;
        } else if (cell->backgroundColor().alpha <= 0) {
            painter.fillRect(rect(), Qt::white);
        }
        const QRect box = rect().adjusted(10, 0, -10, -1);
        const QFont font = toQFont(cell->font());
        if (cell->lineBreakMode() == kit::LineBreakMode::WordWrap || cell->lineBreakMode() == kit::LineBreakMode::CharacterWrap) {
            // Wrapped over the lines the row has room for; a name that goes
            // on ends in an ellipsis on the last of them.
            auto lines = cellTextLines(QString::fromStdString(cell->text()), font, box.width(), box.height());
            drawText(painter, box, lines.join(QLatin1Char('\n')).toStdString(), font, ink, kit::TextAlignment::Left,
                int(lines.size()), kit::LineBreakMode::Clip);
        } else {
            drawText(painter, box, cell->text(), font, ink, kit::TextAlignment::Left, 1, cell->lineBreakMode());
        }
        painter.fillRect(QRect(0, height() - 1, width(), 1), QColor(0xe0, 0xe0, 0xe0));
    }
};

} // namespace

void addTableViewPeers()
{
    PeerRegistry::add<kit::TableView, TableViewPeer>();
    PeerRegistry::add<kit::TableViewCell, TableViewCellPeer>();
}

} // namespace qtshell
