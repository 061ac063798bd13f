#pragma once
#include "AdnetServer.h"

#include "kit/RunLoop.h"

#include <functional>
#include <gtest/gtest.h>

namespace adtest {

// Owns the shared run loop on a manual clock; real I/O is waited for with
// runUntil, time-outs are reached by advancing the clock.
class LoopTest : public testing::Test {
protected:
    void SetUp() override
    {
        kit::RunLoop::main().reset();
        kit::RunLoop::main().useManualClock();
        AdnetServer::shared().mark();
    }
    void TearDown() override { kit::RunLoop::main().reset(); }

    static bool waitFor(const std::function<bool()>& done, double seconds = 10)
    {
        return kit::RunLoop::main().runUntil(done, seconds);
    }
    static AdnetServer& adnet() { return AdnetServer::shared(); }
};

} // namespace adtest
