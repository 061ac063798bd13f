#pragma once
// Text as the handheld's labels and cells draw it: a font, a colour, an
// alignment, a number of lines (0: as many as fit) and a line-break mode.
#include "kit/ui/Label.h"

#include <QPainter>
#include <QRect>

namespace qtshell {

void drawText(QPainter& painter, const QRect& rect, const std::string& text, const QFont& font, const QColor& color,
    kit::TextAlignment alignment, int numberOfLines, kit::LineBreakMode mode);

} // namespace qtshell
