#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/RunLoop.h"
#include "tests/helpers/Flag.h"
#include "tests/helpers/MainThread.h"

using base::kCommonRunLoopModes;
using base::kDefaultRunLoopMode;
using base::kModalPanelRunLoopMode;
using base::RunLoop;

namespace {

using testsupport::Flag;

const base::RunLoopMode kPrivateMode = "TXHTTPRequestRunLoopMode";

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    void write(char c = 'x') const { ASSERT_EQ(::write(fds[1], &c, 1), 1); }
    char read() const {
        char c = 0;
        EXPECT_EQ(::read(fds[0], &c, 1), 1);
        return c;
    }
};

class RunLoopTest : public testsupport::MainThreadTest {};

// ---- posted tasks ----

TEST_F(RunLoopTest, PostedTasksRunInOrderInEveryMode) {
    std::vector<int> order;
    for (int i = 0; i < 3; ++i) mainLoop().post([&order, i] { order.push_back(i); });
    EXPECT_TRUE(pumpUntil([&] { return order.size() == 3; }, 10, kModalPanelRunLoopMode));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));

    bool ranInPrivateMode = false;
    mainLoop().post([&] { ranInPrivateMode = mainLoop().currentMode() == kPrivateMode; });
    EXPECT_TRUE(pumpUntil([&] { return ranInPrivateMode; }, 10, kPrivateMode));
}

TEST_F(RunLoopTest, TasksFromManyThreadsAllRunOnTheLoopThread) {
    constexpr int kThreads = 8, kPerThread = 500;
    std::atomic<int> ran{0};
    std::atomic<int> offThread{0};
    const auto self = std::this_thread::get_id();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) {
                RunLoop::main().post([&] {
                    if (std::this_thread::get_id() != self)
                        ++offThread;
                    ++ran;
                });
            }
        });
    }
    EXPECT_TRUE(pumpUntil([&] { return ran == kThreads * kPerThread; }));
    for (auto& t : threads) t.join();
    EXPECT_EQ(offThread, 0);
}

TEST_F(RunLoopTest, TaskThatPostsDoesNotStarveTheReturnOfRun) {
    bool keepGoing = true;
    int runs = 0;
    std::function<void()> repost = [&] {
        ++runs;
        if (keepGoing)
            mainLoop().post(repost);
    };
    mainLoop().post(repost);
    // Each pass runs only what was queued when it began, so a zero timeout returns.
    EXPECT_EQ(mainLoop().run(kDefaultRunLoopMode, 0), RunLoop::RunResult::TimedOut);
    EXPECT_GE(runs, 1);
    keepGoing = false;
    mainLoop().run(kDefaultRunLoopMode, 0);  // runs the last copy, which posts nothing
}

TEST_F(RunLoopTest, ThrowingTaskDoesNotStopTheLoop) {
    bool after = false;
    mainLoop().post([] { throw std::runtime_error("task failed"); });
    mainLoop().post([&] { after = true; });
    EXPECT_TRUE(pumpUntil([&] { return after; }));
}

TEST_F(RunLoopTest, ReturnAfterSourceHandledRunsOneTask) {
    int ran = 0;
    mainLoop().post([&] { ++ran; });
    mainLoop().post([&] { ++ran; });
    EXPECT_EQ(mainLoop().run(kDefaultRunLoopMode, 10, true), RunLoop::RunResult::HandledSource);
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(pumpUntil([&] { return ran == 2; }));
}

// ---- stopping and time-outs ----

TEST_F(RunLoopTest, StopFromAnotherThreadEndsRun) {
    std::thread stopper;
    mainLoop().post([&] { stopper = std::thread([] { RunLoop::main().stop(); }); });
    EXPECT_EQ(mainLoop().run(kDefaultRunLoopMode, 60), RunLoop::RunResult::Stopped);
    stopper.join();
}

TEST_F(RunLoopTest, StopBeforeRunIsNotLost) {
    mainLoop().stop();
    EXPECT_EQ(mainLoop().run(kDefaultRunLoopMode, 60), RunLoop::RunResult::Stopped);
    EXPECT_EQ(mainLoop().run(kDefaultRunLoopMode, 0), RunLoop::RunResult::TimedOut);
}

TEST_F(RunLoopTest, StopEndsOnlyTheInnermostRun) {
    RunLoop::RunResult inner{};
    bool outerContinued = false;
    mainLoop().post([&] {
        mainLoop().post([&] { mainLoop().stop(); });
        inner = mainLoop().run(kPrivateMode, 60);
        mainLoop().post([&] { outerContinued = true; });
    });
    EXPECT_TRUE(pumpUntil([&] { return outerContinued; }));
    EXPECT_EQ(inner, RunLoop::RunResult::Stopped);
}

TEST_F(RunLoopTest, RunUntilGivesUpWhenPredicateNeverHolds) {
    EXPECT_FALSE(pumpUntil([] { return false; }, 0.05));
}

// ---- timers, modes and the manual clock ----

TEST_F(RunLoopTest, OneShotTimerFiresOnlyOnceClockPassesIt) {
    auto clock = useManualClock();
    int fired = 0;
    mainLoop().addTimer(5, 0, [&] { ++fired; });
    // Never blocks beyond the run's own time-out, although the timer is not due.
    EXPECT_EQ(mainLoop().run(kDefaultRunLoopMode, 0.01), RunLoop::RunResult::TimedOut);
    clock->advance(4.9);
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_EQ(fired, 0);
    clock->advance(0.1);
    EXPECT_TRUE(pumpUntil([&] { return fired == 1; }));
    clock->advance(100);
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, RepeatingTimerSkipsMissedFiringsAndStopsWhenCancelled) {
    auto clock = useManualClock();
    int fired = 0;
    const auto id = mainLoop().addTimer(1, 1, [&] { ++fired; });
    clock->advance(1);
    EXPECT_TRUE(pumpUntil([&] { return fired == 1; }));
    clock->advance(10.5);  // ten intervals late: one firing, not ten
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_EQ(fired, 2);
    clock->advance(0.4);  // still on the grid: next at 12
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_EQ(fired, 2);
    clock->advance(0.1);
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_EQ(fired, 3);
    mainLoop().cancelTimer(id);
    clock->advance(5);
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_EQ(fired, 3);
}

TEST_F(RunLoopTest, TimerCancelledInsideItsCallbackFiresNoMore) {
    auto clock = useManualClock();
    int fired = 0;
    RunLoop::TimerId id = 0;
    id = mainLoop().addTimer(1, 1, [&] {
        ++fired;
        mainLoop().cancelTimer(id);
    });
    for (int i = 0; i < 3; ++i) {
        clock->advance(1);
        mainLoop().run(kDefaultRunLoopMode, 0);
    }
    EXPECT_EQ(fired, 1);
}

TEST_F(RunLoopTest, TimersFireInTheOrderTheyAreDue) {
    auto clock = useManualClock();
    std::vector<int> order;
    mainLoop().addTimer(3, 0, [&] { order.push_back(3); });
    mainLoop().addTimer(1, 0, [&] { order.push_back(1); });
    mainLoop().addTimer(2, 0, [&] { order.push_back(2); });
    clock->advance(5);
    EXPECT_TRUE(pumpUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(RunLoopTest, TimersFireOnlyInTheirModes) {
    auto clock = useManualClock();
    std::vector<std::string> fired;
    mainLoop().addTimer(1, 0, [&] { fired.push_back("default"); });
    mainLoop().addTimer(1, 0, [&] { fired.push_back("common"); }, {kCommonRunLoopModes});
    mainLoop().addTimer(1, 0, [&] { fired.push_back("private"); }, {kPrivateMode});
    clock->advance(1);

    mainLoop().run(kModalPanelRunLoopMode, 0);
    EXPECT_EQ(fired, (std::vector<std::string>{"common"}));
    mainLoop().run(kPrivateMode, 0);
    EXPECT_EQ(fired, (std::vector<std::string>{"common", "private"}));
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_EQ(fired, (std::vector<std::string>{"common", "private", "default"}));
}

TEST_F(RunLoopTest, NestedRunInPrivateModeServesOnlyThatMode) {
    auto clock = useManualClock();
    bool privateFired = false, defaultFired = false, done = false;
    std::vector<std::string> modesSeen;
    mainLoop().post([&] {
        modesSeen.push_back(mainLoop().currentMode());
        mainLoop().addTimer(1, 0, [&] { defaultFired = true; });
        mainLoop().addTimer(1, 0,
                            [&] {
                                modesSeen.push_back(mainLoop().currentMode());
                                privateFired = true;
                            },
                            {kPrivateMode});
        clock->advance(1);
        // Like a synchronous request: pump the private mode until it is done.
        EXPECT_TRUE(mainLoop().runUntil([&] { return privateFired; }, 10, kPrivateMode));
        EXPECT_FALSE(defaultFired);
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return done && defaultFired; }));
    EXPECT_EQ(modesSeen, (std::vector<std::string>{kDefaultRunLoopMode, kPrivateMode}));
    EXPECT_EQ(mainLoop().currentMode(), "");
}

TEST_F(RunLoopTest, SwitchingToAManualClockKeepsTheTimeLeft) {
    int fired = 0;
    mainLoop().addTimer(30, 0, [&] { ++fired; });
    auto clock = useManualClock();
    clock->advance(29);
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_EQ(fired, 0);
    clock->advance(1.5);
    EXPECT_TRUE(pumpUntil([&] { return fired == 1; }));
}

TEST_F(RunLoopTest, AdvancingTheClockWakesALoopSleepingOnAnotherThread) {
    auto clock = std::make_shared<base::ManualClock>();
    Flag ready, fired;
    RunLoop* loop = nullptr;
    std::thread thread([&] {
        loop = &RunLoop::current();
        loop->setClock(clock);
        loop->addTimer(60, 0, [&] {
            fired.set();
            loop->stop();
        });
        ready.set();
        loop->run();
    });
    ASSERT_TRUE(ready.wait());
    clock->advance(60);
    EXPECT_TRUE(fired.wait());
    if (!fired.isSet())
        loop->stop();
    thread.join();
}

// ---- descriptor sources ----

TEST_F(RunLoopTest, SourceIsCalledWhenReadableAndOnlyInItsModes) {
    Pipe pipe;
    std::string got;
    const auto id = mainLoop().addSource(pipe.fds[0], EPOLLIN, [&](uint32_t events) {
        EXPECT_TRUE(events & EPOLLIN);
        got.push_back(pipe.read());
    });
    pipe.write('a');
    mainLoop().run(kModalPanelRunLoopMode, 0);
    EXPECT_EQ(got, "");
    EXPECT_TRUE(pumpUntil([&] { return got == "a"; }));

    mainLoop().setSourceModes(id, {kModalPanelRunLoopMode});
    pipe.write('b');
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_EQ(got, "a");
    EXPECT_TRUE(pumpUntil([&] { return got == "ab"; }, 10, kModalPanelRunLoopMode));

    mainLoop().setSourceEvents(id, 0);
    pipe.write('c');
    mainLoop().run(kModalPanelRunLoopMode, 0);
    EXPECT_EQ(got, "ab");
    mainLoop().setSourceEvents(id, EPOLLIN);
    EXPECT_TRUE(pumpUntil([&] { return got == "abc"; }, 10, kModalPanelRunLoopMode));
    mainLoop().removeSource(id);
}

TEST_F(RunLoopTest, TwoSourcesOnOneDescriptorEachGetTheirEvents) {
    Pipe pipe;
    int readable = 0, writable = 0;
    const auto reader = mainLoop().addSource(pipe.fds[1], EPOLLIN, [&](uint32_t) { ++readable; });
    const auto writer = mainLoop().addSource(pipe.fds[1], EPOLLOUT, [&](uint32_t events) {
        EXPECT_FALSE(events & EPOLLIN);
        ++writable;
    });
    EXPECT_TRUE(pumpUntil([&] { return writable > 0; }));
    EXPECT_EQ(readable, 0);
    mainLoop().removeSource(writer);
    const int before = writable;
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_EQ(writable, before);
    mainLoop().removeSource(reader);
}

TEST_F(RunLoopTest, SourceRemovedInsideItsCallbackIsNotCalledAgain) {
    Pipe pipe;
    int calls = 0;
    RunLoop::SourceId id = 0;
    id = mainLoop().addSource(pipe.fds[0], EPOLLIN, [&](uint32_t) {
        ++calls;
        mainLoop().removeSource(id);  // must not wait for itself
    });
    pipe.write();
    EXPECT_TRUE(pumpUntil([&] { return calls == 1; }));
    mainLoop().run(kDefaultRunLoopMode, 0);  // still readable: nobody read it
    EXPECT_EQ(calls, 1);
}

// A descriptor closed while its source was still there loses its registration; a new
// descriptor under the same number must still be watched.
TEST_F(RunLoopTest, SourceOnAReusedDescriptorNumberIsWatched) {
    auto stale = std::make_unique<Pipe>();
    const int number = stale->fds[0];
    const auto staleId = mainLoop().addSource(number, EPOLLIN, [](uint32_t) {});
    stale.reset();
    Pipe fresh;
    if (fresh.fds[0] != number) {
        mainLoop().removeSource(staleId);
        GTEST_SKIP() << "the descriptor number was not reused";
    }
    bool called = false;
    const auto id = mainLoop().addSource(fresh.fds[0], EPOLLIN, [&](uint32_t) {
        fresh.read();
        called = true;
    });
    fresh.write();
    EXPECT_TRUE(pumpUntil([&] { return called; }));
    mainLoop().removeSource(staleId);
    mainLoop().removeSource(id);
}

// A source removed from another thread while its callback runs: removal returns only
// after the callback has ended, and the callback is never called again.
TEST_F(RunLoopTest, RemoveSourceFromAnotherThreadWaitsForARunningCallback) {
    Pipe pipe;
    Flag inCallback, removerStarted;
    std::atomic<bool> callbackEnded{false}, removed{false}, calledAfterRemoval{false};
    const auto id = mainLoop().addSource(pipe.fds[0], EPOLLIN, [&](uint32_t) {
        if (removed)
            calledAfterRemoval = true;
        inCallback.set();
        EXPECT_TRUE(removerStarted.wait());
        for (int i = 0; i < 2000; ++i) std::this_thread::yield();
        callbackEnded = true;
    });
    bool endedBeforeRemovalReturned = false;
    std::thread remover([&] {
        ASSERT_TRUE(inCallback.wait());
        removerStarted.set();
        RunLoop::main().removeSource(id);
        endedBeforeRemovalReturned = callbackEnded;
        removed = true;
    });
    pipe.write();
    EXPECT_TRUE(pumpUntil([&] { return removed.load(); }));
    remover.join();
    EXPECT_TRUE(endedBeforeRemovalReturned);
    pipe.write();
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_FALSE(calledAfterRemoval);
}

TEST_F(RunLoopTest, CancelTimerRacingWithFiringNeverFiresAfterReturn) {
    auto clock = useManualClock();
    for (int round = 0; round < 200; ++round) {
        std::atomic<bool> cancelled{false}, firedAfterCancel{false};
        const auto id = mainLoop().addTimer(1, 0.5, [&] {
            if (cancelled)
                firedAfterCancel = true;
        });
        std::atomic<bool> go{false};
        std::thread canceller([&] {
            while (!go) std::this_thread::yield();
            RunLoop::main().cancelTimer(id);
            cancelled = true;
        });
        clock->advance(1);
        go = true;
        while (!cancelled) {
            clock->advance(0.5);
            mainLoop().run(kDefaultRunLoopMode, 0);
        }
        canceller.join();
        mainLoop().run(kDefaultRunLoopMode, 0);
        ASSERT_FALSE(firedAfterCancel) << "round " << round;
    }
}

// ---- the main queue ----

TEST_F(RunLoopTest, PostAndWaitRunsInlineOnTheMainThread) {
    EXPECT_TRUE(base::MainQueue::isMainThread());
    bool ran = false;
    base::MainQueue::postAndWait([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST_F(RunLoopTest, PostAndWaitFromAnotherThreadRunsOnMainAndWaits) {
    std::atomic<bool> onMain{false}, returned{false};
    int value = 0;
    std::thread worker([&] {
        EXPECT_FALSE(base::MainQueue::isMainThread());
        base::MainQueue::postAndWait([&] {
            onMain = base::MainQueue::isMainThread();
            value = 42;
        });
        EXPECT_EQ(value, 42);  // visible here: the call waited for the task
        returned = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(onMain);
}

TEST_F(RunLoopTest, PostAfterRunsInEveryModeOnceDue) {
    auto clock = useManualClock();
    bool ran = false;
    base::MainQueue::postAfter(2, [&] { ran = true; });
    clock->advance(1);
    mainLoop().run(kModalPanelRunLoopMode, 0);
    EXPECT_FALSE(ran);
    clock->advance(1);
    EXPECT_TRUE(pumpUntil([&] { return ran; }, 10, kPrivateMode));
}

// Work posted for the main thread while no thread is the main one waits for the next
// thread that becomes main.
TEST_F(RunLoopTest, WorkQueuedWhileNoThreadIsMainIsAdoptedByTheNextMainThread) {
    std::thread([] { RunLoop::setMainThread(); }).join();
    EXPECT_FALSE(base::MainQueue::isMainThread());
    bool ran = false;
    base::MainQueue::post([&] { ran = true; });
    RunLoop::setMainThread();
    EXPECT_TRUE(base::MainQueue::isMainThread());
    EXPECT_TRUE(pumpUntil([&] { return ran; }));
}

// ---- serving the loop from another event loop ----

bool pollsReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// What another loop on the main thread needs to serve this one: a descriptor that
// wakes it for exactly the served mode, and when the next timer is due.
TEST_F(RunLoopTest, PollDescriptorAndNextWorkTellAHostLoopWhenToServeWhichMode) {
    const int defaultFd = mainLoop().pollDescriptor(kDefaultRunLoopMode);
    const int modalFd = mainLoop().pollDescriptor(kModalPanelRunLoopMode);
    EXPECT_EQ(defaultFd, mainLoop().pollDescriptor(kDefaultRunLoopMode));
    mainLoop().run(kDefaultRunLoopMode, 0);
    EXPECT_FALSE(pollsReadable(defaultFd));
    EXPECT_FALSE(mainLoop().secondsUntilWork(kDefaultRunLoopMode).has_value());

    // A task from another thread wakes every mode's descriptor and is due at once.
    std::thread([] { base::MainQueue::post([] {}); }).join();
    EXPECT_TRUE(pollsReadable(defaultFd));
    EXPECT_TRUE(pollsReadable(modalFd));
    EXPECT_EQ(mainLoop().secondsUntilWork(kModalPanelRunLoopMode), 0.0);
    mainLoop().run(kModalPanelRunLoopMode, 0);
    EXPECT_FALSE(pollsReadable(modalFd));

    // A readable source wakes only the descriptors of its modes.
    Pipe pipe;
    const auto source = mainLoop().addSource(pipe.fds[0], EPOLLIN, [&](uint32_t) { pipe.read(); },
                                             {kModalPanelRunLoopMode});
    pipe.write();
    EXPECT_TRUE(pollsReadable(modalFd));
    EXPECT_FALSE(pollsReadable(defaultFd));
    mainLoop().run(kModalPanelRunLoopMode, 0);
    EXPECT_FALSE(pollsReadable(modalFd));
    mainLoop().removeSource(source);

    // Timers count only in their own modes.
    const auto timer = mainLoop().addTimer(30, 0, [] {});
    mainLoop().run(kDefaultRunLoopMode, 0);
    const auto due = mainLoop().secondsUntilWork(kDefaultRunLoopMode);
    ASSERT_TRUE(due.has_value());
    EXPECT_GT(*due, 29.0);
    EXPECT_LE(*due, 30.0);
    EXPECT_FALSE(mainLoop().secondsUntilWork(kModalPanelRunLoopMode).has_value());
    mainLoop().cancelTimer(timer);

    // With a manual clock a timer counts once the clock has passed it.
    auto clock = useManualClock();
    mainLoop().addTimer(5, 0, [] {});
    EXPECT_FALSE(mainLoop().secondsUntilWork(kDefaultRunLoopMode).has_value());
    clock->advance(5);
    EXPECT_TRUE(pollsReadable(defaultFd));
    EXPECT_EQ(mainLoop().secondsUntilWork(kDefaultRunLoopMode), 0.0);
    mainLoop().run(kDefaultRunLoopMode, 0);
}

// Blocking waits on the main thread go through one hook; it is given bounded slices and
// the condition is looked at after each.
TEST_F(RunLoopTest, MainThreadWaitsGoThroughTheHookAndEndWhenDone) {
    bool done = false;
    int calls = 0;
    double longestSlice = 0;
    base::MainThreadWait::setHook([&](double maxSeconds) {
        ++calls;
        longestSlice = std::max(longestSlice, maxSeconds);
        mainLoop().run(kModalPanelRunLoopMode, maxSeconds, true);
    });
    std::thread worker([&] { base::MainQueue::post([&] { done = true; }); });
    EXPECT_TRUE(base::MainThreadWait::until([&] { return done; }, 10));
    worker.join();
    EXPECT_GE(calls, 1);
    EXPECT_LE(longestSlice, 10.0);

    calls = 0;
    EXPECT_FALSE(base::MainThreadWait::until([] { return false; }, 0.2, 0.05));
    EXPECT_GE(calls, 3);  // looked again every 50 ms, not once at the end
    base::MainThreadWait::setHook(nullptr);

    // Without a hook the main loop's modal-panel mode is served.
    bool modalFired = false;
    bool defaultFired = false;
    mainLoop().addTimer(0, 0, [&] { modalFired = true; }, {kModalPanelRunLoopMode});
    mainLoop().addTimer(0, 0, [&] { defaultFired = true; });
    EXPECT_TRUE(base::MainThreadWait::until([&] { return modalFired; }, 10));
    EXPECT_FALSE(defaultFired);
    mainLoop().run(kDefaultRunLoopMode, 0);
}

// ---- registration handles ----

TEST_F(RunLoopTest, HandlesKeepTheirTimerOrSourceUntilTheyGo) {
    int dropped = 0, fired = 0, reads = 0;
    {
        auto gone = mainLoop().makeTimer(0, 0, [&] { ++dropped; });
    }
    auto kept = mainLoop().makeTimer(0, 0, [&] { ++fired; });
    RunLoop::Timer moved = std::move(kept);
    EXPECT_FALSE(kept);
    EXPECT_TRUE(mainLoop().runUntil([&] { return fired == 1; }, 10));

    Pipe pipe;
    RunLoop::Source source = mainLoop().makeSource(pipe.fds[0], EPOLLIN, [&](uint32_t) {
        pipe.read();
        ++reads;
    });
    pipe.write();
    EXPECT_TRUE(mainLoop().runUntil([&] { return reads == 1; }, 10));
    source = mainLoop().makeSource(pipe.fds[0], 0, [&](uint32_t) { ++reads; });
    source.setEvents(EPOLLIN);
    pipe.write();
    EXPECT_TRUE(mainLoop().runUntil([&] { return reads == 2; }, 10));
    source = {};
    pipe.write();
    mainLoop().run(kDefaultRunLoopMode, 0.05);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(reads, 2);
}

// Without a recheck interval, runUntil() sleeps until the loop has something to do.
TEST_F(RunLoopTest, RunUntilWakesForAPostFromAnotherThread) {
    bool done = false;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        mainLoop().post([&] { done = true; });
    });
    EXPECT_TRUE(mainLoop().runUntil([&] { return done; }, 30));
    poster.join();
}

}  // namespace
