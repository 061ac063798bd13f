#pragma once
// The movie player: plays one local media file, presenting itself over the
// application (the caller adds no view). When playback ends, fails or the user
// closes the player, MoviePlayerPlaybackDidFinishNotification is posted with
// the player as its object (from the run loop, never inside play()).
//
// The platform gives the backend that really plays (a video window, or a
// scripted stand-in). Without one a player cannot play and finishes at once.
// The backend refers to the players it plays without holding them: whoever
// created a player holds it until the finish notification has been handled.
#include <memory>
#include <string>
#include <vector>

namespace kit {

class MoviePlayerController;

inline constexpr const char* MoviePlayerPlaybackDidFinishNotification = "MPMoviePlayerPlaybackDidFinishNotification";

enum class MovieScalingMode { None = 0, AspectFit = 1, AspectFill = 2, Fill = 3 };
enum class MovieFinishReason { PlaybackEnded = 0, PlaybackError = 1, UserExited = 2 };

class MoviePlayerBackend {
public:
    virtual ~MoviePlayerBackend() = default;
    // Starts showing and playing the player's content; report the end with
    // player.playbackFinished(reason).
    virtual void play(MoviePlayerController& player) = 0;
    // The player stops or goes away before the end: close its presentation.
    virtual void stop(MoviePlayerController& player) = 0;
};

class MoviePlayerController : public std::enable_shared_from_this<MoviePlayerController> {
public:
    static std::shared_ptr<MoviePlayerController> create(std::string contentURL);
    explicit MoviePlayerController(std::string contentURL) : m_contentURL(std::move(contentURL)) { }
    ~MoviePlayerController();
    MoviePlayerController(const MoviePlayerController&) = delete;
    MoviePlayerController& operator=(const MoviePlayerController&) = delete;

    const std::string& contentURL() const { return m_contentURL; }
    // The local file behind a file URL; empty for any other URL.
    std::string contentPath() const;
    MovieScalingMode scalingMode() const { return m_scalingMode; }
    void setScalingMode(MovieScalingMode mode) { m_scalingMode = mode; }
    bool isPlaying() const { return m_playing; }

    void play();
    void stop();
    // From the backend: playback is over. Posts the finish notification once per play().
    void playbackFinished(MovieFinishReason reason);

    // The platform's backend (Platform::setMovieBackend); null when it has none.
    static MoviePlayerBackend* backend();
    // Players playing now, oldest first (not held).
    static std::vector<MoviePlayerController*> playingPlayers();

private:
    std::string m_contentURL;
    MovieScalingMode m_scalingMode { MovieScalingMode::AspectFit };
    bool m_playing { false };
};

} // namespace kit
