#include "shells/qt/TextDrawing.h"

#include <QFontMetrics>
#include <QTextLayout>

namespace qtshell {

namespace {
Qt::TextElideMode elideMode(kit::LineBreakMode mode)
{
    switch (mode) {
    case kit::LineBreakMode::HeadTruncation:
        return Qt::ElideLeft;
    case kit::LineBreakMode::MiddleTruncation:
        return Qt::ElideMiddle;
    case kit::LineBreakMode::TailTruncation:
        return Qt::ElideRight;
    default:
        return Qt::ElideNone;
    }
}
} // namespace

void drawText(QPainter& painter, const QRect& rect, const std::string& text, const QFont& font, const QColor& color,
    kit::TextAlignment alignment, int numberOfLines, kit::LineBreakMode mode)
{
    if (text.empty() || rect.isEmpty())
        return;
    painter.save();
    painter.setFont(font);
    painter.setPen(color);
    painter.setClipRect(rect);
    const QString all = QString::fromStdString(text);
    QFontMetrics metrics(font);
    const int lineHeight = metrics.lineSpacing();
    int maxLines = std::max(1, rect.height() / std::max(1, lineHeight));
    if (numberOfLines > 0)
        maxLines = std::min(maxLines, numberOfLines);

    // Lay out the lines: wrapped at words (or characters), up to maxLines.
    QStringList lines;
    const bool wraps = numberOfLines != 1;
    for (const QString& paragraph : all.split(QLatin1Char('\n'))) {
        if (!wraps) {
            lines << paragraph;
            break;
        }
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(mode == kit::LineBreakMode::CharacterWrap ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (;;) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(rect.width());
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
        if (paragraph.isEmpty())
            lines << QString();
        if (lines.size() > maxLines)
            break;
    }
    bool cut = lines.size() > maxLines;
    if (cut) {
        // The last shown line carries the rest, truncated as the mode says.
        QStringList rest = lines.mid(maxLines - 1);
        lines = lines.mid(0, maxLines - 1);
        lines << rest.join(QLatin1Char(' '));
    }
    auto elide = elideMode(mode);
    Qt::Alignment h = alignment == kit::TextAlignment::Center ? Qt::AlignHCenter
        : alignment == kit::TextAlignment::Right              ? Qt::AlignRight
                                                              : Qt::AlignLeft;
    // Centred vertically, as the handheld's labels are.
    int total = int(lines.size()) * lineHeight;
    int y = rect.top() + std::max(0, (rect.height() - total) / 2);
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (elide != Qt::ElideNone)
            line = metrics.elidedText(line, elide, rect.width());
        painter.drawText(QRect(rect.left(), y, rect.width(), lineHeight), int(h | Qt::AlignVCenter) | Qt::TextSingleLine, line);
        y += lineHeight;
    }
    painter.restore();
}

} // namespace qtshell
