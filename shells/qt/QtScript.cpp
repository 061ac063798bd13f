#include "shells/qt/QtScript.h"

#include "shells/script/Script.h"
#include "shells/qt/QtPlatform.h"
#include "shells/qt/AppWindow.h"
#include "kit/ui/Window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

namespace qtshell {

namespace {

class QtLoop : public script::Script::Loop {
public:
    void settle() override { QtPlatform::settle(); }

    bool runUntil(const std::function<bool()>& done, double seconds) override
    {
        QElapsedTimer clock;
        clock.start();
        const qint64 limit = qint64(seconds * 1000);
        while (!done()) {
            qint64 left = limit - clock.elapsed();
            if (left <= 0)
                return false;
            // Sleeps in Qt's loop (kit's timers and descriptors are on it) and
            // looks again at least every 50 ms.
            QEventLoop loop;
            QTimer::singleShot(int(std::min<qint64>(left, 50)), &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    }
};

} // namespace

int runScript(QtPlatform& platform, const std::string& path, std::ostream& out)
{
    script::Script script(out, "quorvane", false, std::make_unique<QtLoop>());
    script::addStandardCommands(script);
    script.add("screenshot", "screenshot FILE   save the window as shown (alerts and sheets included) as a PNG",
        [&platform](script::Script& s, const std::string& file) {
            if (file.empty())
                throw script::ScriptError("usage: screenshot FILE");
            s.settle();
            QImage image = platform.renderWindow();
            if (image.isNull())
                throw script::ScriptError("there is no window to take a picture of");
            if (!image.save(QString::fromStdString(file), "PNG"))
                throw script::ScriptError("cannot write " + file);
        });
    // The window is resized as a person would; its resize tells kit.
    script.onResize = [&platform](kit::Size size) {
        if (auto* window = platform.window())
            window->resize(int(size.width), int(size.height));
        else
            kit::Window::setScreenSize(size);
    };
    if (path == "-")
        return script.run(std::cin);
    std::ifstream in(path);
    if (!in) {
        std::cerr << "quorvane: cannot read the script " << path << ": " << std::strerror(errno) << std::endl;
        return 2;
    }
    return script.run(in);
}

} // namespace qtshell
