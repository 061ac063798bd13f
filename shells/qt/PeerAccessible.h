#pragma once
// What a screen reader (through Qt's accessibility, AT-SPI on Linux) learns
// of the window: each peer speaks as the control its kit view is, with the
// text the model holds. Buttons by their titles, the tab bar as page tabs
// (Welcome, Browse, Files, Transfer) with the selected one marked, rows and
// labels by their text, the progress bar with its value, text fields with
// their text, web views as documents, the ad banner as a link named by its
// text, alerts and sheets as dialogs. Buttons, tabs and rows can be pressed
// from there as by a tap. Peers read the model each time they are asked;
// they keep nothing.
#include <QAccessible>

namespace qtshell {

class ViewPeer;

// Installs the factory that makes peers and popups speak; once, before the window shows.
void installPeerAccessibility();
// Tells a listening screen reader that what `peer` says has changed.
void peerAccessibilityChanged(ViewPeer& peer, QAccessible::Event event);

} // namespace qtshell
