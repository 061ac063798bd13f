#pragma once
// kit's movie player in the window: a video screen (QMediaPlayer on a
// QVideoWidget, a Done bar above it) over the whole application window, or
// in a 320 x 480 window of its own when the application window is not shown.
// The end of the media, a media error (a missing file, a file that is no
// media) and Done or Escape finish the player with the matching reason.
//
// This is the player module's (libquorvane-player.so, see Modules.h).
// Nothing of Qt Multimedia is touched before the first play(), and the screen
// waits for the window's first frame: starting a media pipeline is slow.
// Players are referred to, never held.
#include "kit/ui/MoviePlayer.h"

#include <QPointer>
#include <QWidget>

#include <map>

namespace qtshell {

class QtMoviePlayer final : public kit::MoviePlayerBackend {
public:
    void play(kit::MoviePlayerController& player) override;
    void stop(kit::MoviePlayerController& player) override;

    // The screen showing the player; null before it is shown and after it closed.
    QWidget* screenFor(const kit::MoviePlayerController& player) const;

private:
    void open(std::weak_ptr<kit::MoviePlayerController> weak);

    // Keyed by identity only: a player that goes away stops first.
    std::map<const kit::MoviePlayerController*, QPointer<QWidget>> m_screens;
};

} // namespace qtshell
