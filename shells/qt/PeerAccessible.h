#pragma once
// What a screen reader (through Qt's accessibility, AT-SPI on Linux) learns
// of the window. Each peer speaks as its kit view answers (View's
// accessibility virtuals: role, name, value, state, whether a tap acts):
// buttons by their titles, the tab bar as page tabs with the selected one
// marked, rows and labels by their text, the progress bar with its value,
// web views as documents, the ad banner as a link, the busy wheel as "Busy";
// alerts and sheets are dialogs. A view that is no object of its own (a
// panel) is not shown: its children stand in its place, and so do those of
// a peer whose Qt widget speaks for it (a field's line edit). Buttons, tabs,
// rows and links can be pressed from there as by a tap. Peers read the model
// each time they are asked; they keep nothing.
#include <QAccessible>

class QWidget;

namespace qtshell {

class ViewPeer;

// Installs the factory that makes peers and popups speak; once, before the window shows.
void installPeerAccessibility();
// Tells a listening screen reader that what `peer` says has changed.
void peerAccessibilityChanged(ViewPeer& peer, QAccessible::Event event);
// A widget of the shell's own that only holds others (a scroll area's parts):
// a screen reader meets its children in its place.
void markPassThrough(QWidget& widget);
// A widget over the whole window (the popups' layer): while it shows, a
// screen reader meets it and not what it covers.
void markModal(QWidget& widget);

} // namespace qtshell
