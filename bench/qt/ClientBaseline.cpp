// The footprint benchmark's comparison window: what a plain Qt Widgets
// client of transfers costs, made here so that bench/qt/footprint.sh needs
// nothing from outside. A 320 x 480 window: four tabs, a list of two
// transfers whose progress and rates it redraws every second (as a client
// reading its transfers would), and a status line with the time.
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("client baseline"));
    window.resize(320, 480);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* tabs = new QTabWidget;
    tabs->setTabPosition(QTabWidget::South);
    auto* list = new QTableWidget(2, 3);
    list->setHorizontalHeaderLabels({ QStringLiteral("Name"), QStringLiteral("Done"), QStringLiteral("Down") });
    list->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < 2; ++row)
        list->setItem(row, 0, new QTableWidgetItem(QStringLiteral("transfer %1.bin").arg(row + 1)));
    tabs->addTab(list, QStringLiteral("Transfers"));
    for (const char* title : { "Files", "Search", "Options" }) {
        auto* page = new QListWidget;
        for (int i = 0; i < 12; ++i)
            page->addItem(QStringLiteral("file %1.torrent").arg(i));
        tabs->addTab(page, QString::fromLatin1(title));
    }
    layout->addWidget(tabs);
    auto* status = new QLabel;
    layout->addWidget(status);
    int seconds = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        ++seconds;
        for (int row = 0; row < 2; ++row) {
            list->setItem(row, 1, new QTableWidgetItem(QStringLiteral("%1 %").arg((seconds * (row + 1)) % 100)));
            list->setItem(row, 2, new QTableWidgetItem(QStringLiteral("%1 kB/s").arg(100 + (seconds * 7 + row * 13) % 50)));
        }
        status->setText(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  2 transfers"));
    });
    tick.start(1000);
    window.show();
    return app.exec();
}
