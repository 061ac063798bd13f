// The window's movie player on Qt Multimedia, offscreen: the finish reasons
// it reports (a missing file, a file that is no media, Done, stop), that it
// waits for the window's first frame and covers the application window.
#include "QtTestSupport.h"

#include "shells/qt/AppWindow.h"
#include "shells/qt/FirstFrame.h"
#include "shells/qt/QtMoviePlayer.h"
#include "shells/qt/QtPlatform.h"
#include "shells/qt/RunLoopBridge.h"

#include "kit/core/Clock.h"
#include "kit/core/NotificationCenter.h"
#include "kit/core/RunLoop.h"
#include "kit/net/URLEscape.h"
#include "kit/ui/ViewAnimation.h"
#include "kit/ui/Window.h"

#include <QApplication>
#include <QAudioDevice>
#include <QLabel>
#include <QMediaDevices>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <optional>

using namespace qtshell;

namespace {

// deleteLater's work needs an event loop the tests do not run: send it.
template<typename T>
bool deleted(const QPointer<T>& object)
{
    return processUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return object.isNull();
    });
}

class QtMoviePlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kit::RunLoop::main().reset();
        kit::RunLoop::main().setClock(std::make_shared<kit::RealClock>());
        RunLoopBridge::install();
        kit::Platform::current().setMovieBackend(std::make_shared<QtMoviePlayer>());
    }
    void TearDown() override
    {
        // Screens that say why a file could not be played wait for Done: none outlives its test.
        std::vector<QPointer<QWidget>> screens;
        for (auto* w : QApplication::allWidgets())
            if (w->objectName() == QLatin1String("moviePlayer"))
                screens.emplace_back(w);
        for (auto& screen : screens)
            delete screen.data();
        setFirstFramePending(false);
        finishObservation.reset();
        player.reset();
        kit::Platform::current().setMovieBackend(nullptr);
        kit::RunLoop::main().setBackend(nullptr);
        kit::RunLoop::main().reset();
    }

    QtMoviePlayer& backend() { return *dynamic_cast<QtMoviePlayer*>(kit::MoviePlayerController::backend()); }

    void makePlayer(const std::string& path)
    {
        player = kit::MoviePlayerController::create(kit::fileURLWithPath(path));
        finishObservation = kit::NotificationCenter::defaultCenter().addObserver(
            [this](const kit::Notification& n) {
                reason = kit::MovieFinishReason(std::any_cast<int>(n.userInfo.at("MPMoviePlayerPlaybackDidFinishReasonUserInfoKey")));
            },
            kit::MoviePlayerPlaybackDidFinishNotification, player.get());
    }

    std::string writeFile(const std::string& name, const std::string& bytes)
    {
        auto path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    bool finished() { return processUntil([&] { return reason.has_value(); }, 20000); }

    // Ten seconds of silence: a sound alone, which needs a sound device to play.
    std::string writeClip(const std::string& name)
    {
        const uint32_t rate = 8000, bytes = rate * 2 * 10;
        std::string wav;
        auto put = [&](uint32_t v, int n) {
            for (int i = 0; i < n; ++i)
                wav += char((v >> (8 * i)) & 0xff);
        };
        wav += "RIFF";
        put(36 + bytes, 4);
        wav += "WAVEfmt ";
        put(16, 4);
        put(1, 2); // PCM
        put(1, 2); // mono
        put(rate, 4);
        put(rate * 2, 4);
        put(2, 2);
        put(16, 2);
        wav += "data";
        put(bytes, 4);
        wav += std::string(bytes, '\0');
        return writeFile(name, wav);
    }

    // Ten seconds of a 16 x 16 picture at one frame a second: a film with no
    // sound, which plays without a sound device.
    std::string writeFilm(const std::string& name)
    {
        std::string y4m = "YUV4MPEG2 W16 H16 F1:1 Ip A1:1 C420jpeg\n";
        for (int frame = 0; frame < 10; ++frame)
            y4m += "FRAME\n" + std::string(16 * 16, char(16 + frame * 20)) + std::string(2 * 8 * 8, char(128));
        return writeFile(name, y4m);
    }

    kit::Observation finishObservation;
    testsupport::TempFolder folder;
    std::string dir = folder.path();
    std::shared_ptr<kit::MoviePlayerController> player;
    std::optional<kit::MovieFinishReason> reason;
};

TEST_F(QtMoviePlayerTest, IsTheWindowPlatformsBackend)
{
    QtPlatform platform(Options {});
    EXPECT_NE(dynamic_cast<QtMoviePlayer*>(platform.movieBackend()), nullptr);
    EXPECT_TRUE(platform.webEngineFactory());
    EXPECT_NE(dynamic_cast<RunLoopBridge*>(platform.makeRunLoopBackend().get()), nullptr);
}

TEST_F(QtMoviePlayerTest, MissingFileFinishesWithAnErrorWithoutAScreen)
{
    makePlayer(dir + "/gone.mp4");
    player->play();
    EXPECT_EQ(backend().screenFor(*player), nullptr);
    ASSERT_TRUE(finished());
    EXPECT_EQ(*reason, kit::MovieFinishReason::PlaybackError);
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(QtMoviePlayerTest, FileThatIsNoMediaFinishesWithAnError)
{
    makePlayer(writeFile("notes.mp4", std::string(4096, 'x') + "this is a shopping list, not a movie\n"));
    player->play();
    ASSERT_TRUE(finished());
    EXPECT_EQ(*reason, kit::MovieFinishReason::PlaybackError);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_TRUE(processUntil([&] { return backend().screenFor(*player) == nullptr; }));
}

// The label that says why a file cannot be played, if one is shown.
QLabel* shownProblem()
{
    for (auto* w : QApplication::allWidgets())
        if (w->objectName() == QLatin1String("moviePlayerProblem") && w->isVisible())
            return static_cast<QLabel*>(w);
    return nullptr;
}

TEST_F(QtMoviePlayerTest, AFileThePlayerCannotPlayIsSaidUntilDone)
{
    makePlayer(writeFile("notes.mp4", std::string(4096, 'x') + "a shopping list\n"));
    player->play();
    ASSERT_TRUE(finished());
    QLabel* problem = shownProblem();
    ASSERT_NE(problem, nullptr);
    EXPECT_TRUE(problem->text().startsWith(QStringLiteral("“notes.mp4” cannot be played."))) << problem->text().toStdString();
    auto* done = problem->parentWidget()->findChild<QPushButton*>(QStringLiteral("moviePlayerDone"));
    ASSERT_NE(done, nullptr);
    QPointer<QWidget> screen = problem->parentWidget();
    QTest::mouseClick(done, Qt::LeftButton);
    EXPECT_TRUE(deleted(screen));

    reason.reset();
    makePlayer(dir + "/gone.mp4");
    player->play();
    ASSERT_TRUE(finished());
    EXPECT_EQ(*reason, kit::MovieFinishReason::PlaybackError);
    ASSERT_NE(shownProblem(), nullptr);
    EXPECT_TRUE(shownProblem()->text().contains(QStringLiteral("not there"))) << shownProblem()->text().toStdString();
    QTest::keyClick(shownProblem()->parentWidget(), Qt::Key_Escape);
    EXPECT_TRUE(processUntil([] { return shownProblem() == nullptr; }));
}

TEST_F(QtMoviePlayerTest, ASoundWithNoSoundDeviceEndsAndSaysWhy)
{
    if (!QMediaDevices::defaultAudioOutput().isNull())
        GTEST_SKIP() << "this machine has a sound device";
    // It would sit at 0:00 for ever: it finishes, and the screen says why.
    makePlayer(writeClip("clip.wav"));
    player->play();
    ASSERT_TRUE(finished());
    EXPECT_EQ(*reason, kit::MovieFinishReason::PlaybackError);
    ASSERT_NE(shownProblem(), nullptr);
    EXPECT_TRUE(shownProblem()->text().contains(QStringLiteral("no sound device"))) << shownProblem()->text().toStdString();
}

TEST_F(QtMoviePlayerTest, ThePlayerHasItsControls)
{
    makePlayer(writeFilm("clip.y4m"));
    player->play();
    QWidget* screen = backend().screenFor(*player);
    ASSERT_NE(screen, nullptr);
    auto* playPause = screen->findChild<QPushButton*>(QStringLiteral("moviePlayerPlayPause"));
    auto* position = screen->findChild<QSlider*>(QStringLiteral("moviePlayerPosition"));
    auto* time = screen->findChild<QLabel*>(QStringLiteral("moviePlayerTime"));
    ASSERT_TRUE(playPause && position && time);
    ASSERT_TRUE(processUntil([&] { return position->maximum() > 9000; })) << "the slider spans the media";
    // Sized for a finger, as every control of the application.
    auto* done = screen->findChild<QPushButton*>(QStringLiteral("moviePlayerDone"));
    ASSERT_NE(done, nullptr);
    for (QWidget* control : std::initializer_list<QWidget*> { done, playPause, position })
        EXPECT_GE(control->height(), 30) << control->objectName().toStdString();
    EXPECT_TRUE(time->text().endsWith(QStringLiteral("/ 0:10"))) << time->text().toStdString();
    ASSERT_TRUE(processUntil([&] { return playPause->text() == QStringLiteral("Pause"); }));
    QTest::mouseClick(playPause, Qt::LeftButton);
    ASSERT_TRUE(processUntil([&] { return playPause->text() == QStringLiteral("Play"); })) << "paused";
    QTest::mouseClick(playPause, Qt::LeftButton);
    ASSERT_TRUE(processUntil([&] { return playPause->text() == QStringLiteral("Pause"); })) << "playing again";
    // Dragging the position seeks.
    position->setSliderDown(true);
    position->setSliderPosition(5000);
    position->setSliderDown(false);
    EXPECT_TRUE(processUntil([&] { return time->text().startsWith(QStringLiteral("0:05")); })) << time->text().toStdString();
    player->stop();
}

TEST_F(QtMoviePlayerTest, DoneFinishesAsTheUserLeaving)
{
    makePlayer(writeFilm("clip.y4m"));
    player->play();
    QWidget* screen = backend().screenFor(*player);
    ASSERT_NE(screen, nullptr);
    auto* done = screen->findChild<QPushButton*>(QStringLiteral("moviePlayerDone"));
    ASSERT_NE(done, nullptr);
    QTest::mouseClick(done, Qt::LeftButton);
    ASSERT_TRUE(finished());
    EXPECT_EQ(*reason, kit::MovieFinishReason::UserExited);
    EXPECT_EQ(backend().screenFor(*player), nullptr);
}

TEST_F(QtMoviePlayerTest, StopClosesTheScreenAndGoneLeavesNoReport)
{
    makePlayer(writeFilm("clip.y4m"));
    player->play();
    QPointer<QWidget> screen = backend().screenFor(*player);
    ASSERT_TRUE(screen);
    player->stop();
    EXPECT_EQ(backend().screenFor(*player), nullptr);
    ASSERT_TRUE(finished());
    EXPECT_EQ(*reason, kit::MovieFinishReason::UserExited);
    EXPECT_TRUE(deleted(screen));

    // A player dropped while playing closes its screen; nobody is left to tell.
    reason.reset();
    auto other = kit::MoviePlayerController::create(kit::fileURLWithPath(writeFilm("other.y4m")));
    other->play();
    QPointer<QWidget> second = backend().screenFor(*other);
    ASSERT_TRUE(second);
    other.reset();
    EXPECT_TRUE(deleted(second));
}

TEST_F(QtMoviePlayerTest, WaitsForTheFirstFrameAndCoversTheWindow)
{
    kit::ViewAnimation::reset();
    kit::Window window;
    AppWindow app(window);
    app.show();
    setFirstFramePending(true);
    makePlayer(writeFilm("clip.y4m"));
    player->play();
    EXPECT_EQ(backend().screenFor(*player), nullptr);
    setFirstFramePending(false);
    ASSERT_TRUE(processUntil([&] { return backend().screenFor(*player) != nullptr; }));
    QWidget* screen = backend().screenFor(*player);
    EXPECT_EQ(screen->parentWidget(), &app);
    EXPECT_EQ(screen->geometry(), app.rect());
    player->stop();
    ASSERT_TRUE(finished());
    EXPECT_EQ(*reason, kit::MovieFinishReason::UserExited);
}

} // namespace
