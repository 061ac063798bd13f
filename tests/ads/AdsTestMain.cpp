// The ad tests share one device root and one ad network for the whole program:
// the ad caches fix their folders on first use, as they do in the application.
#include "AdnetServer.h"

#include "kit/DeviceInfo.h"
#include "kit/DeviceLayout.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class AdsEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        char dir[] = "/tmp/quorvane-ads-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_root = dir;
        kit::DeviceLayout::current().setRoot(m_root);
        kit::DeviceLayout::current().prepare();
        kit::DeviceInfo::reload();
        adtest::AdnetServer::shared().start();
    }
    void TearDown() override
    {
        adtest::AdnetServer::shared().stop();
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }

private:
    std::string m_root;
};

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new AdsEnvironment);
    return RUN_ALL_TESTS();
}
