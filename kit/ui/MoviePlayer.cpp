#include "kit/ui/MoviePlayer.h"

#include "kit/core/NotificationCenter.h"
#include "kit/core/Platform.h"
#include "kit/core/RunLoop.h"
#include "kit/net/URLEscape.h"

#include <algorithm>
#include <any>

namespace kit {

namespace {
std::vector<MoviePlayerController*>& playing()
{
    static std::vector<MoviePlayerController*> players;
    return players;
}

void forget(MoviePlayerController* player)
{
    auto& list = playing();
    list.erase(std::remove(list.begin(), list.end(), player), list.end());
}
} // namespace

std::shared_ptr<MoviePlayerController> MoviePlayerController::create(std::string contentURL)
{
    return std::make_shared<MoviePlayerController>(std::move(contentURL));
}

MoviePlayerController::~MoviePlayerController()
{
    if (m_playing) {
        forget(this);
        if (auto* b = backend())
            b->stop(*this);
    }
}

std::string MoviePlayerController::contentPath() const
{
    return fileURLPath(m_contentURL).value_or("");
}

void MoviePlayerController::play()
{
    if (m_playing)
        return;
    m_playing = true;
    playing().push_back(this);
    if (auto* b = backend()) {
        b->play(*this);
        return;
    }
    playbackFinished(MovieFinishReason::PlaybackError);
}

void MoviePlayerController::stop()
{
    if (!m_playing)
        return;
    if (auto* b = backend())
        b->stop(*this);
    playbackFinished(MovieFinishReason::UserExited);
}

void MoviePlayerController::playbackFinished(MovieFinishReason reason)
{
    if (!m_playing)
        return;
    m_playing = false;
    forget(this);
    // Delivered from the loop, so that a backend finishing inside play() does
    // not pull the player away under its caller. The player may be gone by then.
    std::weak_ptr<MoviePlayerController> weak = weak_from_this();
    const void* object = this;
    RunLoop::main().post([weak, object, reason] {
        auto keep = weak.lock();
        if (!keep)
            return;
        NotificationCenter::defaultCenter().postNotification(MoviePlayerPlaybackDidFinishNotification, object,
            { { "MPMoviePlayerPlaybackDidFinishReasonUserInfoKey", std::any(int(reason)) } });
    });
}

MoviePlayerBackend* MoviePlayerController::backend()
{
    return Platform::current().movieBackend();
}

std::vector<MoviePlayerController*> MoviePlayerController::playingPlayers()
{
    return playing();
}

} // namespace kit
