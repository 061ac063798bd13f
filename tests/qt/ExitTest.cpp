// Exit while a transfer client will not stop: the window waits its time for
// the client to say goodbye, then kills it rather than leave it running.
#include "QtTestSupport.h"

#include "shells/qt/QtPlatform.h"

#include "app/QuorvaneMain.h"
#include "kit/ui/Application.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace qtshell;

namespace {

TEST(ExitTest, AClientThatIgnoresItsEndIsKilledOnceTheWaitIsOver)
{
    testsupport::TempFolder folder;
    const std::string stubborn = folder.path() + "/stubborn.sh";
    {
        std::ofstream script(stubborn);
        script << "#!/bin/sh\ntrap '' TERM\ntouch \"$0.ready\"\nwhile :; do sleep 0.05; done\n";
    }
    ::chmod(stubborn.c_str(), 0755);
    kit::RunLoop::main().reset();
    kit::RunLoop::main().setClock(std::make_shared<kit::RealClock>());
    kit::DeviceLayout::current().setRoot(folder.path() + "/device");

    std::ostringstream said;
    auto previous = kit::setLogSink([&](const std::string& line) {
        said << line << "\n";
        return true;
    });
    auto platform = std::make_shared<QtPlatform>(Options {});
    platform->stopTimeout = 0.5;
    double waited = -1;
    platform->onRunning = [&](QtPlatform&) {
        auto child = kit::ChildProcess::create();
        child->setLaunchPath(stubborn);
        auto childLaunched = child->launch();
        EXPECT_TRUE(childLaunched) << childLaunched.error().message;
        // Once the script has said it ignores its end.
        EXPECT_TRUE(processUntil([&] { return ::access((stubborn + ".ready").c_str(), F_OK) == 0; }));
        QElapsedTimer timer;
        timer.start();
        kit::Application::shared().terminate(); // Exit: the client hears its end, and ignores it
        EXPECT_TRUE(processUntil([] { return kit::ChildProcess::runningCount() == 0; }, 10000));
        waited = timer.elapsed() / 1000.0;
        EXPECT_EQ(child->terminationStatus(), 128 + SIGKILL);
        return 0;
    };
    EXPECT_EQ(runInWindow(platform), 0);
    kit::setLogSink(previous);
    kit::ChildProcess::killAll(); // whatever happened above, nothing is left behind
    EXPECT_GE(waited, 0.45) << "the client had its time";
    EXPECT_NE(said.str().find("The transfer client did not stop in 0.5 s; killing it"), std::string::npos) << said.str();
}

} // namespace
