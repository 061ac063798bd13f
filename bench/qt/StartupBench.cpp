// Start-up to the first painted frame under Qt's offscreen platform:
// quorvane (--exit-after-first-frame) beside a minimal Widgets window of the
// same size made here (a tab widget, a list, a few labels). Each is started
// as a new process, alternately, and timed from start to exit; the medians
// and their ratio are printed. Target: at most 3x.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

class Baseline : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_painted) {
            m_painted = true;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
    }

private:
    bool m_painted { false };
};

int baseline(int argc, char** argv)
{
    QApplication app(argc, argv);
    Baseline window;
    window.setFixedSize(320, 480);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 20, 0, 0);
    auto* tabs = new QTabWidget;
    tabs->setTabPosition(QTabWidget::South);
    for (const char* title : { "Welcome", "Browse", "Files", "Transfer" }) {
        auto* page = new QWidget;
        auto* pageLayout = new QVBoxLayout(page);
        pageLayout->addWidget(new QLabel(QStringLiteral("No torrent file set yet!")));
        pageLayout->addWidget(new QLabel(QStringLiteral("Idle")));
        auto* list = new QListWidget;
        for (int i = 0; i < 12; ++i)
            list->addItem(QStringLiteral("file %1.torrent").arg(i));
        pageLayout->addWidget(list);
        tabs->addTab(page, QString::fromLatin1(title));
    }
    layout->addWidget(tabs);
    window.show();
    return app.exec();
}

double timeOnce(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "bench-qt-startup: %s failed\n", qPrintable(program));
        std::exit(1);
    }
    return double(t.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc > 1 && std::strcmp(argv[1], "--baseline") == 0)
        return baseline(argc, argv);
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;

    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", dir.path());
    const QString device = dir.path() + "/device";
    const QString self = QCoreApplication::applicationFilePath();
    // One start of each first, so both find their libraries in the page cache.
    timeOnce(self, { "--baseline" }, env);
    timeOnce(QUORVANE_BIN, { "--root", device, "--exit-after-first-frame" }, env);
    std::vector<double> base, quorvane;
    for (int i = 0; i < rounds; ++i) {
        base.push_back(timeOnce(self, { "--baseline" }, env));
        quorvane.push_back(timeOnce(QUORVANE_BIN, { "--root", device, "--exit-after-first-frame" }, env));
    }
    double b = median(base), q = median(quorvane);
    std::printf("start-up to the first painted frame (offscreen, median of %d)\n", rounds);
    std::printf("  minimal Qt Widgets window: %8.1f ms\n", b);
    std::printf("  quorvane:                  %8.1f ms\n", q);
    std::printf("  ratio: %.2fx (target: at most 3x)\n", q / b);
    return 0;
}
