// What a list row shows of a long name: whole words over the lines that fit,
// and an ellipsis where the name goes on.
#include "shells/qt/CellText.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

using qtshell::cellTextLines;

namespace {

QFont rowFont()
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPixelSize(14);
    return font;
}

TEST(CellText, AShortNameIsOneWholeLine)
{
    EXPECT_EQ(cellTextLines(QStringLiteral("a.torrent"), rowFont(), 300, 43), QStringList { QStringLiteral("a.torrent") });
    EXPECT_TRUE(cellTextLines(QString(), rowFont(), 300, 43).isEmpty());
}

TEST(CellText, ALongNameWrapsAndEndsInAnEllipsis)
{
    const QFont font = rowFont();
    QFontMetrics metrics(font);
    const int lineRoom = metrics.lineSpacing() * 2 + 2; // two lines fit
    QString name;
    for (int i = 0; i < 40; ++i)
        name += QStringLiteral("word%1 ").arg(i);
    name += QStringLiteral("end.torrent");
    auto lines = cellTextLines(name, font, 200, lineRoom);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(name.startsWith(lines[0])) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QChar(0x2026))) << lines[1].toStdString();
    for (auto& line : lines)
        EXPECT_LE(metrics.horizontalAdvance(line), 200) << line.toStdString();
    // The first line ends at a word, never inside one.
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("word") + lines[0].section(QStringLiteral("word"), -1)));
    EXPECT_TRUE(name.mid(lines[0].size()).startsWith(QLatin1Char(' ')));
}

TEST(CellText, AWordLongerThanALineBreaksWithoutLosingLetters)
{
    const QFont font = rowFont();
    QFontMetrics metrics(font);
    const QString name = QString(60, QLatin1Char('x')) + QStringLiteral(".torrent");
    auto lines = cellTextLines(name, font, 150, metrics.lineSpacing() * 3 + 1);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0] + lines[1], name.left(lines[0].size() + lines[1].size()));
    EXPECT_TRUE(lines[2].endsWith(QChar(0x2026)));
    // One line of room: the whole name elided on it.
    auto one = cellTextLines(name, font, 150, metrics.lineSpacing());
    ASSERT_EQ(one.size(), 1);
    EXPECT_TRUE(one[0].endsWith(QChar(0x2026)));
}

} // namespace
