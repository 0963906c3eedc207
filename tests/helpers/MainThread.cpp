#include "tests/helpers/MainThread.h"

namespace testsupport {

void MainThreadTest::SetUp() {
    base::RunLoop::setMainThread();
}

void MainThreadTest::TearDown() {
    // Tasks a test left queued run now, while what they refer to still exists,
    // rather than in the next test.
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    mainLoop().setClock(nullptr);
}

bool MainThreadTest::pumpUntil(const std::function<bool()>& predicate, double timeoutSeconds,
                               const base::RunLoopMode& mode) {
    // Test predicates also read what peers change on their own threads (a server's
    // request count) without waking the loop, so they are looked at every 10 ms too.
    return mainLoop().runUntil(predicate, timeoutSeconds, mode, 0.01);
}

std::shared_ptr<base::ManualClock> MainThreadTest::useManualClock() {
    auto clock = std::make_shared<base::ManualClock>();
    mainLoop().setClock(clock);
    return clock;
}

}  // namespace testsupport
