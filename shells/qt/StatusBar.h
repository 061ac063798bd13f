#pragma once
// The 20-point status bar over the top of the screen: the device name, the
// time, and the network-activity indicator (a turning wheel) while the
// application says so. While it is hidden, nothing of it wakes.
#include <QPixmap>
#include <QTimer>

#include <array>
#include <QWidget>

namespace qtshell {

class StatusBar : public QWidget {
public:
    explicit StatusBar(QWidget* parent);
    void setNetworkActivity(bool visible);
    bool networkActivity() const { return m_activity; }
    // Whether the wheel's timer runs (only while the wheel can be seen).
    bool isTurning() const { return m_spin.isActive(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    void updateSpin();
    void scheduleClock();
    QRect wheelRect() const;
    QRect clockRect() const;
    static QString title();
    // The wheel's twelve steps, drawn once at the screen's pixel ratio: a
    // step is then one small copy, not twelve antialiased strokes.
    const QPixmap& wheelFrame(int step);
    static constexpr int wheelCentreX = 86;

    bool m_activity { false };
    int m_step { 0 };
    int m_titleWidth { -1 }; // measured once: the title never changes
    std::array<QPixmap, 12> m_wheelFrames;
    QTimer m_spin;
    QTimer m_clock;
};

} // namespace qtshell
