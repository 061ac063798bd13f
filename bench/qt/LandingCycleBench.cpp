// Opens and closes the embedded browser and the canvas panel 20 times each in
// the window's scene under Qt's offscreen platform, against adnet on
// loopback. Prints the resident memory of this process after the first and
// after the last cycle (target: within 10 %), and the median time of one
// cycle beside its designed length (0.5 + 0.2 + 0.2 + 0.5 s; each page is
// closed as soon as it has faded in). The web engine's own processes are not
// counted. Run by hand: build/bin/bench-qt-landing
#include "ads/landing/AdlarkBrowserController.h"
#include "ads/landing/AdlarkCanvasController.h"
#include "shells/qt/QtWebEngine.h"
#include "shells/qt/RunLoopBridge.h"
#include "shells/qt/Scene.h"

#include "kit/ui/Application.h"
#include "kit/core/DeviceLayout.h"
#include "kit/ui/Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

struct NoSystem : kit::Platform {
    int run(kit::Application&) override { return 0; }
    bool openURL(const std::string&) override { return true; }
    void terminate(kit::Application&) override { }
};

struct Host : AdlarkDelegate {
    std::optional<std::string> publisherId() override { return "bench"; }
    void didDismissModalCanvas() override { ++closed; }
    void didDismissWebView() override { ++closed; }
    int closed { 0 };
};

long residentKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

bool processUntil(const std::function<bool()>& done, int deadlineMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > deadlineMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qtshell::QtWebEngine::registerSchemes();
    QApplication qapp(argc, argv);

    QProcess adnet;
    adnet.start(QStringLiteral(QUORVANE_ADNET), { "--port", "0", "--exit-after", "600" });
    if (!adnet.waitForReadyRead(10000)) {
        std::fprintf(stderr, "adnet did not start\n");
        return 1;
    }
    auto line = adnet.readLine().trimmed().toStdString(); // "adnet ad=P media=P"
    auto port = line.substr(line.rfind('=') + 1);
    ::setenv("QUORVANE_CONNECT_TO", ("ads.example.test:80:127.0.0.1:" + port + ";media.example.test:80:127.0.0.1:" + port).c_str(), 1);

    QTemporaryDir root;
    kit::DeviceLayout::current().setRoot(root.path().toStdString());
    kit::DeviceLayout::current().prepare();
    kit::Application app;
    auto platform = std::make_shared<NoSystem>();
    platform->setWebEngineFactory([](kit::WebView& view) { return std::make_unique<qtshell::QtWebEngine>(view); });
    kit::Platform::install(platform);
    qtshell::RunLoopBridge::install();
    auto window = std::make_shared<kit::Window>();
    auto adView = kit::View::create(kit::Rect { 0, 384, 320, 48 });
    window->addSubview(adView);
    QWidget screen;
    screen.resize(320, 480);
    qtshell::Scene scene(*window, &screen);
    screen.show();
    auto host = std::make_shared<Host>();

    const int cycles = 20;
    int status = 0;
    for (const char* kind : { "browser", "canvas" }) {
        std::vector<double> times;
        long first = 0, last = 0;
        for (int i = 0; i < cycles; ++i) {
            std::shared_ptr<AdlarkModalController> controller;
            QElapsedTimer t;
            t.start();
            if (std::string(kind) == "browser") {
                auto browser = AdlarkModalController::create<AdlarkBrowserController>();
                browser->setAdlarkDelegate(host);
                browser->presentBrowserFromView(adView, *kit::URL::withString("http://ads.example.test/landing.html"));
                controller = browser;
            } else {
                auto canvas = AdlarkModalController::create<AdlarkCanvasController>();
                canvas->setAdlarkDelegate(host);
                canvas->presentCanvasFromView(adView, *kit::URL::withString("http://media.example.test/static/iphone/canvas.html"), "Bench");
                controller = canvas;
            }
            int closedBefore = host->closed;
            // Closed as soon as it has faded in.
            bool ok = processUntil([&] { return !controller->presentationAnimationInProgress(); }, 20000);
            controller->dismissModal();
            ok = ok && processUntil([&] { return host->closed > closedBefore; }, 20000);
            times.push_back(t.elapsed() / 1000.0);
            if (!ok) {
                std::fprintf(stderr, "%s cycle %d did not end\n", kind, i + 1);
                status = 1;
                break;
            }
            if (i == 0)
                first = residentKiB();
            last = residentKiB();
        }
        double growth = first ? 100.0 * (last - first) / first : 0;
        std::printf("%-7s resident after cycle 1: %ld KiB, after cycle %d: %ld KiB (%+.1f %%, target within 10 %%)\n", kind, first,
            cycles, last, growth);
        std::printf("%-7s one cycle: median %.3f s, designed 1.400 s (ratio %.2f)\n", kind, median(times), median(times) / 1.4);
    }
    kit::Platform::install(nullptr);
    adnet.terminate();
    adnet.waitForFinished(5000);
    return status;
}
