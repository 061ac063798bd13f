// The idle benchmark's baseline: a minimal Qt Widgets window of the
// application's size (or WIDTHxHEIGHT, the first argument) whose only motion is the same turning activity wheel as
// the window's status bar (twelve spokes, ten steps a second, only the wheel's
// square repainted). bench/qt/idle.sh measures it beside quorvane.
#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <cstdio>

namespace {

class Bar : public QWidget {
public:
    explicit Bar(QWidget* parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        m_timer.setInterval(100);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_step = (m_step + 1) % 12;
            update(QRect(78, 2, 16, 16));
        });
        m_timer.start();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(0x40, 0x42, 0x46));
        p.setRenderHint(QPainter::Antialiasing);
        const QPointF centre(86, height() / 2.0);
        for (int i = 0; i < 12; ++i) {
            double angle = (i * 30.0) * M_PI / 180.0;
            int age = (m_step - i + 12) % 12;
            p.setPen(QPen(QColor(255, 255, 255, 255 - age * 18), 1.6, Qt::SolidLine, Qt::RoundCap));
            QPointF dir(std::sin(angle), -std::cos(angle));
            p.drawLine(centre + dir * 3.0, centre + dir * 6.5);
        }
    }

private:
    QTimer m_timer;
    int m_step { 0 };
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QSize size(320, 480);
    if (argc > 1) {
        const auto parts = QString::fromLocal8Bit(argv[1]).split(QLatin1Char('x'));
        bool wide = false, high = false;
        if (parts.size() == 2)
            size = QSize(parts[0].toInt(&wide), parts[1].toInt(&high));
        if (!wide || !high || size.width() < 1 || size.height() < 1) {
            std::fprintf(stderr, "usage: bench-qt-idle-baseline [WIDTHxHEIGHT]\n");
            return 2;
        }
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("idle baseline"));
    window.setFixedSize(size);
    window.setStyleSheet(QStringLiteral("background: white;"));
    auto* bar = new Bar(&window);
    bar->setGeometry(0, 0, size.width(), 20);
    window.show();
    return app.exec();
}
