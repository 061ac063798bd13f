#pragma once
#include "tests/support/AdnetServer.h"
#include "tests/support/LoopTest.h"

namespace adtest {

using testsupport::AdnetServer;
using testsupport::LoggedRequest;

// The shared loop on a manual clock, and the ad network's log read from the
// start of each test.
class LoopTest : public testsupport::LoopTest {
protected:
    void SetUp() override
    {
        testsupport::LoopTest::SetUp();
        AdnetServer::shared().mark();
    }
    static AdnetServer& adnet() { return AdnetServer::shared(); }
};

} // namespace adtest
