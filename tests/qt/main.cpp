// The Qt shell's tests run without a screen, on Qt's offscreen platform.
#include "shells/qt/Modules.h"
#if QUORVANE_QT_WEBENGINE
#include "shells/qt/QtWebEngine.h"
#endif

#include <QApplication>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#if QUORVANE_QT_WEBENGINE
    qtshell::QtWebEngine::registerSchemes();
    // The modules are linked in: the tests reach their classes directly.
    qtshell::Modules::provide(quorvane_web_module(), quorvane_player_module());
#else
    qtshell::Modules::provide(nullptr, quorvane_player_module());
#endif
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
