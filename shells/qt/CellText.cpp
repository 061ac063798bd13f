#include "shells/qt/CellText.h"

#include <QFontMetrics>
#include <QTextLayout>

#include <algorithm>

namespace qtshell {

QStringList cellTextLines(const QString& text, const QFont& font, int width, int height)
{
    QStringList lines;
    if (text.isEmpty() || width <= 0)
        return lines;
    QFontMetrics metrics(font);
    const int maxLines = std::max(1, height / std::max(1, metrics.lineSpacing()));
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int consumed = 0;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (int(lines.size()) == maxLines - 1) {
            // The last line that fits carries the rest, elided at its end.
            layout.endLayout();
            lines << metrics.elidedText(text.mid(consumed).trimmed(), Qt::ElideRight, width);
            return lines;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
        consumed = line.textStart() + line.textLength();
    }
    layout.endLayout();
    return lines;
}

} // namespace qtshell
