#pragma once
// The lines a list row shows of its text: wrapped at words (or anywhere in a
// word too long for a line), as many as fit, and the last one ending in an
// ellipsis when the text goes on. Never a letter cut in half.
#include <QFont>
#include <QStringList>

namespace qtshell {

QStringList cellTextLines(const QString& text, const QFont& font, int width, int height);

} // namespace qtshell
