#pragma once
// The 20-point status bar over the top of the screen: the device name, the
// time, and the network-activity indicator (a turning wheel) while the
// application says so. While it is hidden, nothing of it wakes.
//
// The wheel steps ten times a second for as long as the window is shown, so a
// step must cost next to nothing. Its twelve steps are drawn once, opaque, on
// the bar's own background. On X11, while nothing lies over the wheel, a step
// is one copy from those pictures kept in the X server to the window: Qt's
// paint, its backing store and the round trip it makes before reusing its
// shared image are left out, and a thread of its own makes the copies, so
// the main loop does not wake for them. Qt draws the wheel otherwise, and
// whenever it repaints the bar (the same pictures, so both ways look alike).
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include <array>
#include <memory>
#include <QWidget>

namespace qtshell {

class ServerWheel;

class StatusBar : public QWidget {
public:
    explicit StatusBar(QWidget* parent);
    ~StatusBar() override;
    void setNetworkActivity(bool visible);
    bool networkActivity() const { return m_activity; }
    // Whether the wheel turns (only while it can be seen).
    bool isTurning() const { return m_spin.isActive() || m_serverTurning; }
    // Whether a widget stacked over the bar (an alert's dimming, the movie
    // player, the stopping notice) meets the wheel's square: then a step
    // must go through Qt, which draws what lies over it.
    bool isWheelCovered() const;

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void step();
    // Hands the steps to the X server's copies; false where Qt must draw them.
    bool turnInServer();
    void pauseServer();
    // For good: not X11, pixels of another kind, or the application ending.
    void giveUpServer();
    int shownStep() const;
    void updateSpin();
    void scheduleClock();
    QRect wheelRect() const;
    QRect clockRect() const;
    static QString title();
    void paintBackground(QPainter& p, const QRect& area) const;
    // The wheel's twelve steps, drawn once at the screen's pixel ratio on the
    // bar's background: a step is then one small opaque copy, not twelve
    // antialiased strokes over a gradient.
    const QImage& wheelFrame(int step);
    void dropWheelFrames();
    static constexpr int wheelCentreX = 86;

    bool m_activity { false };
    bool m_serverUsable { true }; // until the X server turns out not to take the steps
    bool m_serverTurning { false };
    bool m_lookAgain { false };
    int m_step { 0 }; // Qt's step; the server's own while it turns
    int m_titleWidth { -1 }; // measured once: the title never changes
    QFont m_font;
    std::array<QImage, 12> m_wheelFrames;
    std::unique_ptr<ServerWheel> m_server;
    QTimer m_spin;
    QTimer m_clock;
};

} // namespace qtshell
