#include "shells/qt/QtMoviePlayer.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/FirstFrame.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

#include <cstdlib>

namespace qtshell {

namespace {

// Debian's Qt Multimedia brings FFmpeg with it but not GStreamer's playback
// plugins, without which the GStreamer backend plays nothing; pick FFmpeg
// unless the user chose.
void chooseMediaBackend()
{
    if (std::getenv("QT_MEDIA_BACKEND"))
        return;
    for (const auto& dir : QCoreApplication::libraryPaths()) {
        if (QFileInfo::exists(dir + QStringLiteral("/multimedia/libffmpegmediaplugin.so"))) {
            ::setenv("QT_MEDIA_BACKEND", "ffmpeg", 0);
            return;
        }
    }
}

// The application window, if it is on screen.
QWidget* applicationWindow()
{
    for (auto* w : QApplication::topLevelWidgets())
        if (dynamic_cast<AppWindow*>(w) && w->isVisible())
            return w;
    return nullptr;
}

Qt::AspectRatioMode aspectFor(kit::MovieScalingMode mode)
{
    switch (mode) {
    case kit::MovieScalingMode::AspectFill: return Qt::KeepAspectRatioByExpanding;
    case kit::MovieScalingMode::Fill: return Qt::IgnoreAspectRatio;
    default: return Qt::KeepAspectRatio;
    }
}

class MovieScreen final : public QWidget {
public:
    MovieScreen(std::weak_ptr<kit::MoviePlayerController> player, const QUrl& source, QWidget* host)
        : QWidget(host)
        , m_player(std::move(player))
    {
        setObjectName(QStringLiteral("moviePlayer"));
        setAttribute(Qt::WA_StyledBackground);
        setStyleSheet(QStringLiteral("background: black; color: white;"));
        setWindowTitle(QStringLiteral("Quorvane"));

        // The bar sits above the video, not over it: the video widget may be
        // a native surface that would hide anything on top of it.
        auto* done = new QPushButton(QStringLiteral("Done"), this);
        done->setObjectName(QStringLiteral("moviePlayerDone"));
        done->setFocusPolicy(Qt::NoFocus);
        auto* bar = new QHBoxLayout;
        bar->setContentsMargins(6, 6, 6, 6);
        bar->addWidget(done);
        bar->addStretch();
        m_video = new QVideoWidget(this);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        column->addLayout(bar);
        column->addWidget(m_video, 1);
        if (auto p = m_player.lock())
            m_video->setAspectRatioMode(aspectFor(p->scalingMode()));
        connect(done, &QPushButton::clicked, this, [this] { finish(kit::MovieFinishReason::UserExited); });

        m_media = new QMediaPlayer(this);
        // Qt 6.4's FFmpeg backend crashes feeding sound to no device: with no
        // sound device, play the picture only.
        if (!QMediaDevices::defaultAudioOutput().isNull()) {
            m_audio = new QAudioOutput(this);
            m_media->setAudioOutput(m_audio);
        }
        m_media->setVideoOutput(m_video);
        connect(m_media, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
            if (status == QMediaPlayer::EndOfMedia)
                finish(kit::MovieFinishReason::PlaybackEnded);
            else if (status == QMediaPlayer::InvalidMedia)
                finish(kit::MovieFinishReason::PlaybackError);
        });
        connect(m_media, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error) {
            if (error != QMediaPlayer::NoError)
                finish(kit::MovieFinishReason::PlaybackError);
        });

        if (host) {
            setGeometry(host->rect());
        } else {
            setWindowFlag(Qt::Window);
            resize(320, 480);
        }
        setFocusPolicy(Qt::StrongFocus);
        show();
        raise();
        setFocus();

        if (!m_media->isAvailable()) {
            finishLater(kit::MovieFinishReason::PlaybackError);
            return;
        }
        m_media->setSource(source);
        m_media->play();
    }

    // Closes without a word to the player (it stopped, or went away).
    void dismiss()
    {
        if (m_finished)
            return;
        m_finished = true;
        m_media->stop();
        hide();
        deleteLater();
    }

    void finish(kit::MovieFinishReason reason)
    {
        if (m_finished)
            return;
        dismiss();
        if (auto player = m_player.lock())
            player->playbackFinished(reason);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape)
            finish(kit::MovieFinishReason::UserExited);
        else
            QWidget::keyPressEvent(event);
    }

    // Closing its own window is leaving the movie.
    void closeEvent(QCloseEvent* event) override
    {
        finish(kit::MovieFinishReason::UserExited);
        QWidget::closeEvent(event);
    }

private:
    void finishLater(kit::MovieFinishReason reason)
    {
        QMetaObject::invokeMethod(this, [this, reason] { finish(reason); }, Qt::QueuedConnection);
    }

    std::weak_ptr<kit::MoviePlayerController> m_player;
    QVideoWidget* m_video { nullptr };
    QMediaPlayer* m_media { nullptr };
    QAudioOutput* m_audio { nullptr };
    bool m_finished { false };
};

} // namespace

void QtMoviePlayer::play(kit::MoviePlayerController& player)
{
    auto weak = player.weak_from_this();
    if (weak.expired()) {
        // Not made by create(): nothing to refer to it by safely.
        player.playbackFinished(kit::MovieFinishReason::PlaybackError);
        return;
    }
    auto path = player.contentPath();
    if (!path.empty() && !QFileInfo(QString::fromStdString(path)).isFile()) {
        player.playbackFinished(kit::MovieFinishReason::PlaybackError);
        return;
    }
    afterFirstFrame([this, weak] { open(weak); });
}

void QtMoviePlayer::open(std::weak_ptr<kit::MoviePlayerController> weak)
{
    auto player = weak.lock();
    // Stopped, gone or already shown while this waited for the first frame.
    if (!player || !player->isPlaying() || screenFor(*player))
        return;
    auto path = player->contentPath();
    QUrl source = path.empty() ? QUrl(QString::fromStdString(player->contentURL()))
                               : QUrl::fromLocalFile(QString::fromStdString(path));
    if (!source.isValid() || source.isEmpty()) {
        player->playbackFinished(kit::MovieFinishReason::PlaybackError);
        return;
    }
    chooseMediaBackend();
    for (auto it = m_screens.begin(); it != m_screens.end();)
        it = it->second ? std::next(it) : m_screens.erase(it);
    m_screens[player.get()] = new MovieScreen(weak, source, applicationWindow());
}

void QtMoviePlayer::stop(kit::MoviePlayerController& player)
{
    auto it = m_screens.find(&player);
    if (it == m_screens.end())
        return;
    if (auto* screen = static_cast<MovieScreen*>(it->second.data()))
        screen->dismiss();
    m_screens.erase(it);
}

QWidget* QtMoviePlayer::screenFor(const kit::MoviePlayerController& player) const
{
    auto it = m_screens.find(&player);
    if (it == m_screens.end() || !it->second || !it->second->isVisible())
        return nullptr;
    return it->second;
}

} // namespace qtshell
