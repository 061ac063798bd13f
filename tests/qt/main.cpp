// The Qt shell's tests run without a screen, on Qt's offscreen platform.
#include "shells/qt/QtWebEngine.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qtshell::QtWebEngine::registerSchemes();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
