// The application object: ending on the user's request with the delegate's
// say, and addresses handed to the system that nothing takes.
#include "kit/testing/TestEnvironment.h"
#include "kit/ui/AlertView.h"
#include "kit/ui/Application.h"

#include "kit/net/URLEscape.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

class AskingDelegate : public kit::ApplicationDelegate {
public:
    kit::TerminateReply applicationShouldTerminate(kit::Application&) override
    {
        ++asked;
        return reply;
    }
    kit::TerminateReply reply { kit::TerminateReply::Later };
    int asked { 0 };
};

class ApplicationTest : public ::testing::Test {
protected:
    kit::TestEnvironment env;
    kit::Application app;
};

TEST_F(ApplicationTest, TheUsersRequestToEndWaitsForTheDelegatesAnswer)
{
    auto delegate = std::make_shared<AskingDelegate>();
    app.setDelegate(delegate);
    app.requestTermination();
    EXPECT_FALSE(app.isTerminating());
    EXPECT_TRUE(app.isAskingToTerminate());
    app.requestTermination();
    EXPECT_EQ(delegate->asked, 1) << "one question at a time";
    app.replyToApplicationShouldTerminate(false);
    EXPECT_FALSE(app.isTerminating());
    EXPECT_EQ(env.platform().terminations, 0);

    app.requestTermination();
    app.replyToApplicationShouldTerminate(true);
    EXPECT_TRUE(app.isTerminating());
    EXPECT_EQ(env.platform().terminations, 1);
}

TEST_F(ApplicationTest, EndingWithoutAskingAndDelegatesThatAnswerAtOnce)
{
    auto delegate = std::make_shared<AskingDelegate>();
    delegate->reply = kit::TerminateReply::Cancel;
    app.setDelegate(delegate);
    app.requestTermination();
    EXPECT_FALSE(app.isTerminating());
    EXPECT_FALSE(app.isAskingToTerminate());
    app.replyToApplicationShouldTerminate(true);
    EXPECT_FALSE(app.isTerminating()) << "an answer nobody asked for does nothing";
    app.terminate();
    EXPECT_TRUE(app.isTerminating()) << "a signal or a script's end does not ask";
    EXPECT_EQ(delegate->asked, 1);
}

TEST_F(ApplicationTest, AnAddressNothingTakesIsSaidWithTheKindOfProgramMissing)
{
    EXPECT_TRUE(app.handOverURL("http://www.quorvane.example/"));
    EXPECT_EQ(app.frontPopup(), nullptr);
    EXPECT_EQ(env.platform().openedURLs.back(), "http://www.quorvane.example/");

    env.platform().acceptsURLs = false;
    struct Case {
        const char* url;
        const char* title;
        const char* inMessage;
    };
    for (auto c : { Case { "https://payments.quorvane.example/x", "No web browser", "https://payments.quorvane.example/x" },
             Case { "mailto:?subject=A&attachment=/d/x.torrent", "No mail program", "No mail program is set up" },
             Case { "itms://app/1", "No program for this address", "\"itms:\" addresses" } }) {
        EXPECT_FALSE(app.handOverURL(c.url));
        auto* alert = app.frontPopup();
        ASSERT_NE(alert, nullptr) << c.url;
        EXPECT_EQ(alert->title(), c.title);
        EXPECT_NE(alert->message().find(c.inMessage), std::string::npos) << alert->message();
        EXPECT_EQ(alert->buttonTitles(), std::vector<std::string> { "OK" });
        alert->dismissWithClickedButtonIndex(0, false);
        EXPECT_EQ(app.frontPopup(), nullptr);
    }
    EXPECT_FALSE(app.openURL("http://x.example/"));
    EXPECT_EQ(app.frontPopup(), nullptr) << "the plain hand-over stays silent";

    // A file (the completion notice's Open): said as a file, or as gone.
    const std::string file = env.root() + "/My Film.mkv";
    { std::ofstream(file) << "x"; }
    EXPECT_EQ(kit::Application::missingProgramText(kit::fileURLWithPath(file)),
        std::make_pair(std::string("No program for this file"), "No program on this system is set up to open:\n" + file));
    EXPECT_EQ(kit::Application::missingProgramText(kit::fileURLWithPath(env.root() + "/gone.mkv")),
        std::make_pair(std::string("File not found"), "It is no longer there:\n" + env.root() + "/gone.mkv"));
}

TEST_F(ApplicationTest, ANotificationWithoutButtonsStillReachesTheShell)
{
    // The call as it was, and with buttons: both reach the shell's one override.
    kit::Platform::current().showNotification("Quorvane keeps running", "Start it again to show it.");
    kit::Platform::current().showNotification("Download complete", "a.torrent", { { "Open", "file:///d/a.bin" } });
    auto& shown = env.platform().notifications;
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].title, "Quorvane keeps running");
    EXPECT_TRUE(shown[0].actions.empty());
    EXPECT_EQ(shown[1].actions, (std::vector<kit::NotificationAction> { { "Open", "file:///d/a.bin" } }));
}

} // namespace
