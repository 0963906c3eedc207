#pragma once
// A test fixture whose test thread is the main thread: work posted to the main queue
// runs when the test pumps, and a manual clock can drive its timers.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "base/Clock.h"
#include "base/RunLoop.h"

namespace testsupport {

class MainThreadTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    base::RunLoop& mainLoop() const { return base::RunLoop::main(); }
    // Pumps the main loop in `mode` until the predicate holds; false on time-out.
    bool pumpUntil(const std::function<bool()>& predicate, double timeoutSeconds = 10,
                   const base::RunLoopMode& mode = base::kDefaultRunLoopMode);
    // Gives the main loop a manual clock for the rest of the test.
    std::shared_ptr<base::ManualClock> useManualClock();
};

}  // namespace testsupport
