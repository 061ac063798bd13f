#pragma once
#include <QIcon>

namespace qtshell {
// Quorvane's icon, drawn here so that the window and the tray need no image
// plugin: a blue rounded square with a white downward arrow over a bar of
// seeds. shells/qt/quorvane.svg is the same design for desktop menus.
QIcon appIcon();
} // namespace qtshell
