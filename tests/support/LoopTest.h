#pragma once
// The fixture of tests that turn the shared run loop: kit's test environment
// (a fresh loop on a manual clock, a temporary device root, fresh single
// instances, no animations left from an earlier test). Real I/O is waited
// for with waitFor(); time-outs are reached by advancing the clock.
#include "kit/core/RunLoop.h"
#include "kit/testing/TestEnvironment.h"

#include <functional>
#include <gtest/gtest.h>

namespace testsupport {

class LoopTest : public testing::Test {
protected:
    void SetUp() override { }
    void TearDown() override { }

    // Turns the loop in real time until done() holds; false after the limit.
    static bool waitFor(const std::function<bool()>& done, double realSeconds = 10)
    {
        return kit::RunLoop::main().runUntil(done, realSeconds);
    }

    kit::TestEnvironment env;
};

} // namespace testsupport
