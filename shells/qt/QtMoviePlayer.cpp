#include "shells/qt/QtMoviePlayer.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/FirstFrame.h"
#include "shells/qt/Modules.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSlider>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

#include <algorithm>
#include <climits>
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

QString clock(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, ms) / 1000;
    return s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg((s / 60) % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// The height and width a finger needs, as the application's own controls have.
constexpr int fingerSize = 44;

class MovieScreen final : public QWidget {
public:
    // A screen that only says why the file cannot be played; Done closes it.
    static MovieScreen* problem(const QString& name, const QString& why, QWidget* host)
    {
        auto* screen = new MovieScreen({}, QUrl(), host);
        screen->showProblem(name, why);
        return screen;
    }

    MovieScreen(std::weak_ptr<kit::MoviePlayerController> player, const QUrl& source, QWidget* host)
        : QWidget(host)
        , m_player(std::move(player))
        , m_name(source.fileName())
    {
        setObjectName(QStringLiteral("moviePlayer"));
        setAttribute(Qt::WA_StyledBackground);
        setStyleSheet(QStringLiteral("background: black; color: white;"));
        setWindowTitle(QStringLiteral("Quorvane"));

        // The bars sit above and below the video, not over it: the video
        // widget may be a native surface that would hide anything on top of it.
        auto* done = new QPushButton(QStringLiteral("Done"), this);
        done->setObjectName(QStringLiteral("moviePlayerDone"));
        done->setFocusPolicy(Qt::NoFocus);
        done->setMinimumSize(fingerSize, fingerSize);
        auto* bar = new QHBoxLayout;
        bar->setContentsMargins(6, 6, 6, 6);
        bar->addWidget(done);
        bar->addStretch();
        // The video widget picks the media backend for the whole process.
        chooseMediaBackend();
        m_video = new QVideoWidget(this);
        m_problem = new QLabel(this);
        m_problem->setObjectName(QStringLiteral("moviePlayerProblem"));
        m_problem->setWordWrap(true);
        m_problem->setAlignment(Qt::AlignCenter);
        m_problem->setMargin(20);
        m_problem->setStyleSheet(QStringLiteral("font-size: 15px; font-weight: bold;"));
        m_problem->hide();

        // Play or pause, the position (drag to seek) and the time.
        m_playPause = new QPushButton(QStringLiteral("Pause"), this);
        m_playPause->setObjectName(QStringLiteral("moviePlayerPlayPause"));
        m_playPause->setFocusPolicy(Qt::NoFocus);
        m_position = new QSlider(Qt::Horizontal, this);
        m_position->setObjectName(QStringLiteral("moviePlayerPosition"));
        m_position->setFocusPolicy(Qt::NoFocus);
        m_position->setRange(0, 0);
        // A finger's size, as every other control of the application.
        m_playPause->setMinimumSize(fingerSize, fingerSize);
        m_position->setMinimumHeight(fingerSize);
        m_position->setStyleSheet(QStringLiteral("QSlider::groove:horizontal { height: 6px; background: #555; border-radius: 3px; }"
                                                 "QSlider::handle:horizontal { width: 28px; margin: -11px 0; border-radius: 14px; background: white; }"));
        m_time = new QLabel(QStringLiteral("0:00 / 0:00"), this);
        m_time->setObjectName(QStringLiteral("moviePlayerTime"));
        auto* controls = new QHBoxLayout;
        controls->setContentsMargins(6, 6, 6, 6);
        controls->addWidget(m_playPause);
        controls->addWidget(m_position, 1);
        controls->addWidget(m_time);

        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        column->addLayout(bar);
        column->addWidget(m_video, 1);
        column->addWidget(m_problem, 1);
        column->addLayout(controls);
        if (auto p = m_player.lock())
            m_video->setAspectRatioMode(aspectFor(p->scalingMode()));
        connect(done, &QPushButton::clicked, this, [this] { leave(); });

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

        // A screen that only says why a file cannot be played starts no media pipeline.
        if (source.isEmpty())
            return;
        m_media = new QMediaPlayer(this);
        // Qt 6.4's FFmpeg backend crashes feeding sound to no device: with no
        // sound device, play the picture only.
        if (!QMediaDevices::defaultAudioOutput().isNull()) {
            m_audio = new QAudioOutput(this);
            m_media->setAudioOutput(m_audio);
        }
        m_media->setVideoOutput(m_video);
        connect(m_media, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
            // A sound alone, with no device to play it on, would sit at 0:00
            // for ever: it cannot be played here, and the screen says why.
            if ((status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia) && !m_audio && !m_media->hasVideo())
                failed(QStringLiteral("It holds only sound, and this system has no sound device to play it on."));
            else if (status == QMediaPlayer::EndOfMedia)
                finish(kit::MovieFinishReason::PlaybackEnded);
            else if (status == QMediaPlayer::InvalidMedia)
                failed(m_media->errorString());
        });
        connect(m_media, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error, const QString& text) {
            if (error != QMediaPlayer::NoError)
                failed(text);
        });
        connect(m_media, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState state) {
            m_playPause->setText(state == QMediaPlayer::PlayingState ? QStringLiteral("Pause") : QStringLiteral("Play"));
        });
        connect(m_media, &QMediaPlayer::durationChanged, this, [this](qint64 ms) {
            m_position->setRange(0, int(std::min<qint64>(ms, INT_MAX)));
            showTime();
        });
        connect(m_media, &QMediaPlayer::positionChanged, this, [this](qint64 ms) {
            if (!m_position->isSliderDown())
                m_position->setValue(int(std::min<qint64>(ms, INT_MAX)));
            showTime();
        });
        connect(m_position, &QSlider::sliderMoved, this, [this](int ms) { m_media->setPosition(ms); });
        connect(m_playPause, &QPushButton::clicked, this, [this] { togglePlaying(); });

        if (!m_media->isAvailable()) {
            QMetaObject::invokeMethod(this, [this] { failed(QStringLiteral("This system has no media playback.")); }, Qt::QueuedConnection);
            return;
        }
        m_media->setSource(source);
        m_media->play();
    }

    // Closes without a word to the player (it stopped, or went away). A
    // screen that says why a file cannot be played stays until Done, unless forced.
    void dismiss(bool evenAProblem = false)
    {
        if (m_closed || (m_showsProblem && !evenAProblem))
            return;
        m_closed = true;
        m_finished = true;
        if (m_media)
            m_media->stop();
        hide();
        deleteLater();
    }

    void finish(kit::MovieFinishReason reason)
    {
        if (m_finished)
            return;
        dismiss();
        m_finished = true;
        if (auto player = m_player.lock())
            player->playbackFinished(reason);
    }

    void togglePlaying()
    {
        if (m_finished || !m_media)
            return;
        if (m_media->playbackState() == QMediaPlayer::PlayingState)
            m_media->pause();
        else
            m_media->play();
    }

    bool showsProblem() const { return m_showsProblem; }

    // Done, Escape or closing the window: the user leaves the movie, or the
    // word on why it could not play.
    void leave()
    {
        if (m_finished || m_showsProblem)
            dismiss(true);
        else
            finish(kit::MovieFinishReason::UserExited);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape)
            leave();
        else if (event->key() == Qt::Key_Space)
            togglePlaying();
        else
            QWidget::keyPressEvent(event);
    }

    // Closing its own window is leaving the movie.
    void closeEvent(QCloseEvent* event) override
    {
        leave();
        QWidget::closeEvent(event);
    }

private:
    // The player cannot play the file: the screen says so (the player hears
    // of it at once) and stays until Done.
    void failed(const QString& why)
    {
        if (m_finished)
            return;
        if (m_media)
            m_media->stop();
        showProblem(m_name, why);
        finish(kit::MovieFinishReason::PlaybackError);
    }

    void showProblem(const QString& name, const QString& why)
    {
        m_showsProblem = true;
        m_video->hide();
        for (QWidget* control : std::initializer_list<QWidget*> { m_playPause, m_position, m_time })
            control->hide();
        QString text = name.isEmpty() ? QStringLiteral("This file cannot be played.") : QStringLiteral("“%1” cannot be played.").arg(name);
        const QString reason = why.trimmed().isEmpty() ? QStringLiteral("It is not a film or a sound the player knows.") : why.trimmed();
        m_problem->setText(text + QStringLiteral("\n\n") + reason);
        m_problem->show();
        show();
        raise();
    }

    void showTime() { m_time->setText(clock(m_media->position()) + QStringLiteral(" / ") + clock(m_media->duration())); }

    std::weak_ptr<kit::MoviePlayerController> m_player;
    QString m_name;
    QVideoWidget* m_video { nullptr };
    QLabel* m_problem { nullptr };
    QPushButton* m_playPause { nullptr };
    QSlider* m_position { nullptr };
    QLabel* m_time { nullptr };
    QMediaPlayer* m_media { nullptr };
    QAudioOutput* m_audio { nullptr };
    bool m_finished { false };
    bool m_closed { false };
    bool m_showsProblem { false };
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
        // Said on a screen of its own (not the player's), then the player hears of it.
        const QString name = QFileInfo(QString::fromStdString(path)).fileName();
        MovieScreen::problem(name, QStringLiteral("The file is not there any more."), applicationWindow());
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
        MovieScreen::problem({}, QStringLiteral("Its address is not valid."), applicationWindow());
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
    // A screen that only says why the file cannot be played shows no player.
    if (static_cast<MovieScreen*>(it->second.data())->showsProblem())
        return nullptr;
    return it->second;
}

} // namespace qtshell

namespace qtshell {
namespace {

class Module final : public PlayerModule {
public:
    std::shared_ptr<kit::MoviePlayerBackend> makeBackend() const override { return std::make_shared<QtMoviePlayer>(); }
};

} // namespace
} // namespace qtshell

const qtshell::PlayerModule* quorvane_player_module()
{
    static const qtshell::Module module;
    return &module;
}
