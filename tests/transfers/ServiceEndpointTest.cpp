// The service's socket as a view in another process meets it: greeted with
// the list, its questions answered under their own numbers, and a peer that
// breaks the protocol let go alone.
#include "tests/support/TempFolder.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"
#include "kit/net/LocalChannel.h"
#include "kit/testing/TestEnvironment.h"
#include "transfers/ServiceEndpoint.h"
#include "transfers/ServiceProtocol.h"
#include "transfers/TransferService.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using service::Message;

class ServiceEndpointTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        layout.setRoot(root.path());
        layout.prepare();
        kit::UserDefaults::standard().open(layout.settingsFile());
    }
    void TearDown() override { layout.setRoot(""); }

    kit::TestEnvironment env;
    kit::RunLoop& loop { env.loop() };
    kit::DeviceLayout& layout { kit::DeviceLayout::current() };
    testsupport::TempFolder root;
};

TEST_F(ServiceEndpointTest, AViewIsGreetedAndAnsweredAndOneThatBreaksTheProtocolIsLetGoAlone)
{
    auto owner = TransferService::create();
    const std::string path = root / "service";
    ASSERT_TRUE(owner->serve(path));
    EXPECT_FALSE(kit::LocalServer::listen(path)) << "a second service of the device is refused while the first answers";

    std::vector<Message> heard;
    auto view = kit::LocalConnection::connect(path).value();
    view->onMessage = [&](kit::LocalConnection&, std::string text) {
        auto message = service::decode(text);
        ASSERT_TRUE(message) << text;
        heard.push_back(*message);
    };
    view->send(service::encode(Message("HELLO").set("version", 1LL)));
    ASSERT_TRUE(loop.runUntil([&] { return heard.size() >= 2; }, 5));
    EXPECT_EQ(heard[0].kind, "WELCOME");
    EXPECT_EQ(heard[0].number("pid"), (long long)::getpid());
    EXPECT_EQ(heard[1].kind, "LIST");
    EXPECT_EQ(heard[1].number("count"), 0);

    // A torrent that is not there: the owner's answer comes back under the question's number.
    view->send(service::encode(Message("ASK").set("req", 7LL).set("path", root / "missing.torrent").set("name", "missing")));
    auto answer = [&]() -> const Message* {
        for (auto& m : heard)
            if (m.kind == "ANSWER")
                return &m;
        return nullptr;
    };
    ASSERT_TRUE(loop.runUntil([&] { return answer() != nullptr; }, 5));
    EXPECT_EQ(answer()->number("req"), 7);
    EXPECT_EQ(answer()->number("asked"), (long long)Asked::Failed);
    EXPECT_NE(answer()->text("failure"), "");

    // One speaks before saying HELLO; another announces a message past the bound.
    bool rudeGone = false;
    auto rude = kit::LocalConnection::connect(path).value();
    rude->onClosed = [&](kit::LocalConnection&, const std::string&) { rudeGone = true; };
    rude->send(service::encode(Message("STOP")));
    int raw = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(raw, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const unsigned char huge[] = { 0xff, 0xff, 0xff, 0xff, 'H', 'E' };
    ASSERT_EQ(::write(raw, huge, sizeof huge), ssize_t(sizeof huge));
    ASSERT_TRUE(loop.runUntil([&] { return rudeGone && owner->endpoint()->viewCount() == 1; }, 5));
    char byte;
    EXPECT_EQ(::recv(raw, &byte, 1, MSG_DONTWAIT), 0) << "closed by the service";
    ::close(raw);

    // The view that kept to the protocol is still served.
    const size_t before = heard.size();
    view->send(service::encode(Message("OPTIONS")));
    view->send(service::encode(Message("REMOVE").set("req", 8LL).set("id", 99LL)));
    ASSERT_TRUE(loop.runUntil([&] { return heard.size() > before && heard.back().kind == "RESULT"; }, 5));
    EXPECT_EQ(heard.back().number("req"), 8);
    EXPECT_EQ(heard.back().text("error"), "This transfer is no longer in the list.");
}

} // namespace
