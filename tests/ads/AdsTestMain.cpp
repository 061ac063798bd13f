// The ad tests share one ad network and, by default, one device root for the
// whole program; the image cache reads its folder at each use, so a test may
// set a root of its own.
#include "tests/support/AdnetServer.h"
#include "tests/support/TempFolder.h"

#include "kit/core/DeviceInfo.h"
#include "kit/core/DeviceLayout.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

class AdsEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        m_root = std::make_unique<testsupport::TempFolder>();
        kit::DeviceLayout::current().setRoot(m_root->path());
        kit::DeviceLayout::current().prepare();
        kit::DeviceInfo::reload();
        testsupport::AdnetServer::shared().start();
    }
    void TearDown() override
    {
        testsupport::AdnetServer::shared().stop();
        m_root.reset();
    }

private:
    std::unique_ptr<testsupport::TempFolder> m_root;
};

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new AdsEnvironment);
    return RUN_ALL_TESTS();
}
