#include "base/OperationQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/helpers/Flag.h"

using base::BlockOperation;
using base::Operation;
using base::OperationQueue;

namespace {

// Operations wait at a gate until the test sets it.
using Gate = testsupport::Flag;

// Records what ran, in order, from any thread.
class Log {
  public:
    void add(int v) {
        std::lock_guard lock(mutex_);
        entries_.push_back(v);
    }
    std::vector<int> entries() {
        std::lock_guard lock(mutex_);
        return entries_;
    }

  private:
    std::mutex mutex_;
    std::vector<int> entries_;
};

// Holds its slot after start() returns, until the test finishes it.
class AsyncOperation : public Operation {
  public:
    bool isAsynchronous() const override { return true; }
    void start() override {
        markExecuting();
        started.set();
    }
    void complete() { finish(); }
    Gate started;
};

// Runs until it is cancelled.
class Spinner : public Operation {
  public:
    Spinner(Gate& inside, std::atomic<bool>& sawCancel) : inside_(inside), sawCancel_(sawCancel) {}
    void main() override {
        inside_.set();
        while (!isCancelled()) std::this_thread::yield();
        sawCancel_ = true;
    }

  private:
    Gate& inside_;
    std::atomic<bool>& sawCancel_;
};

std::shared_ptr<BlockOperation> block(std::function<void()> f) {
    return std::make_shared<BlockOperation>(std::move(f));
}

// ---- order and concurrency ----

TEST(OperationQueueTest, SerialQueueRunsInOrderOnOneWorkerThread) {
    auto queue = OperationQueue::create("serial");
    Log log;
    std::mutex mutex;
    std::set<std::thread::id> threads;
    std::atomic<int> wrongQueue{0};
    for (int i = 0; i < 50; ++i) {
        queue->addOperation([&, i] {
            if (OperationQueue::current() != queue)
                ++wrongQueue;
            std::lock_guard lock(mutex);
            threads.insert(std::this_thread::get_id());
            log.add(i);
        });
    }
    queue->waitUntilAllOperationsAreFinished();
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i) expected[i] = i;
    EXPECT_EQ(log.entries(), expected);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    EXPECT_EQ(wrongQueue, 0);
    EXPECT_EQ(OperationQueue::current(), nullptr);
}

TEST(OperationQueueTest, WideQueueRunsUpToItsLimitAtOnceAndNoMore) {
    auto queue = OperationQueue::create("wide", 3);
    std::atomic<int> running{0}, peak{0};
    std::mutex mutex;
    std::set<std::thread::id> threads;
    Gate allStarted;
    std::atomic<int> startedCount{0};
    for (int i = 0; i < 30; ++i) {
        queue->addOperation([&] {
            const int now = ++running;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            {
                std::lock_guard lock(mutex);
                threads.insert(std::this_thread::get_id());
            }
            // The first three wait for each other, proving they run side by side.
            if (++startedCount == 3)
                allStarted.set();
            EXPECT_TRUE(allStarted.wait());
            --running;
        });
    }
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(peak, 3);
    EXPECT_LE(threads.size(), 3u);  // worker threads are bounded by the limit
}

TEST(OperationQueueTest, HigherPriorityStartsFirstThenFirstAdded) {
    auto queue = OperationQueue::create("priorities", 1, true);
    Log log;
    auto add = [&](int tag, Operation::Priority p) {
        auto op = block([&log, tag] { log.add(tag); });
        op->setPriority(p);
        queue->addOperation(op);
    };
    add(1, Operation::Priority::Low);
    add(2, Operation::Priority::Normal);
    add(3, Operation::Priority::VeryHigh);
    add(4, Operation::Priority::Normal);
    add(5, Operation::Priority::High);
    add(6, Operation::Priority::VeryLow);
    queue->setSuspended(false);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log.entries(), (std::vector<int>{3, 5, 2, 4, 1, 6}));
}

TEST(OperationQueueTest, RaisingTheLimitLetsWaitingOperationsStart) {
    auto queue = OperationQueue::create("grow", 1);
    Gate bothRunning;
    std::atomic<int> started{0};
    for (int i = 0; i < 2; ++i) {
        queue->addOperation([&] {
            if (++started == 2)
                bothRunning.set();
            EXPECT_TRUE(bothRunning.wait());
        });
    }
    queue->setMaxConcurrentOperationCount(2);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(started, 2);
}

TEST(OperationQueueTest, DefaultLimitIsOnePerHardwareThread) {
    auto queue = OperationQueue::create("default", OperationQueue::kDefaultMaxConcurrent);
    const int hardware = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(queue->maxConcurrentOperationCount(), hardware);
}

// ---- dependencies ----

TEST(OperationQueueTest, DependencyInAnotherQueueRunsFirst) {
    auto first = OperationQueue::create("first", 1, true);
    auto second = OperationQueue::create("second", 4);
    Log log;
    auto a = block([&] { log.add(1); });
    auto b = block([&] { log.add(2); });
    auto c = block([&] { log.add(3); });
    b->addDependency(a);
    c->addDependency(b);
    second->addOperation(c);
    second->addOperation(b);
    EXPECT_FALSE(b->isReady());
    first->addOperation(a);
    first->setSuspended(false);
    c->waitUntilFinished();
    EXPECT_EQ(log.entries(), (std::vector<int>{1, 2, 3}));
}

TEST(OperationQueueTest, DependencyAddedAfterQueueingStillWakesTheQueue) {
    auto queue = OperationQueue::create("late", 1, true);
    auto other = OperationQueue::create("other", 1, true);
    Gate ran;
    std::atomic<bool> dependencyDone{false}, orderKept{false};
    auto dependency = block([&] { dependencyDone = true; });
    auto op = block([&] {
        orderKept = dependencyDone.load();
        ran.set();
    });
    queue->addOperation(op);
    op->addDependency(dependency);
    other->addOperation(dependency);
    queue->setSuspended(false);
    other->setSuspended(false);  // nothing else happens in `queue` after this
    EXPECT_TRUE(ran.wait());
    EXPECT_TRUE(orderKept);
}

TEST(OperationQueueTest, CancelledOperationStartsWithoutWaitingForDependencies) {
    auto queue = OperationQueue::create("q", 2);
    auto never = block([] {});  // never queued, never finished
    bool mainRan = false;
    auto op = block([&] { mainRan = true; });
    op->addDependency(never);
    bool completed = false;
    op->setCompletion([&] { completed = true; });
    queue->addOperation(op);
    op->cancel();
    op->waitUntilFinished();
    EXPECT_FALSE(mainRan);
    EXPECT_TRUE(completed);
    EXPECT_TRUE(op->isFinished());
}

// ---- asynchronous operations ----

TEST(OperationQueueTest, AsynchronousOperationHoldsItsSlotUntilFinished) {
    auto queue = OperationQueue::create("async", 1);
    auto async = std::make_shared<AsyncOperation>();
    std::atomic<bool> asyncFinishedWhenNextStarted{false};
    queue->addOperation(async);
    queue->addOperation([&] { asyncFinishedWhenNextStarted = async->isFinished(); });
    ASSERT_TRUE(async->started.wait());
    EXPECT_TRUE(async->isExecuting());
    // Give a faulty queue every chance to start the next one in the held slot.
    for (int i = 0; i < 2000; ++i) std::this_thread::yield();
    EXPECT_EQ(queue->operationCount(), 2u);
    async->complete();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(asyncFinishedWhenNextStarted);
}

TEST(OperationQueueTest, AsynchronousOperationFinishedFromAnotherThread) {
    auto queue = OperationQueue::create("async", 2);
    std::vector<std::shared_ptr<AsyncOperation>> ops;
    for (int i = 0; i < 6; ++i) {
        ops.push_back(std::make_shared<AsyncOperation>());
        queue->addOperation(ops.back());
    }
    std::thread finisher([&] {
        for (auto& op : ops) {
            ASSERT_TRUE(op->started.wait());
            op->complete();
        }
    });
    queue->waitUntilAllOperationsAreFinished();
    finisher.join();
    for (auto& op : ops) EXPECT_TRUE(op->isFinished());
}

// ---- suspension and cancellation ----

TEST(OperationQueueTest, SuspendingNeverStopsARunningOperation) {
    auto queue = OperationQueue::create("suspend", 1);
    Gate inside, release;
    std::atomic<bool> firstDone{false}, secondRan{false};
    auto first = block([&] {
        inside.set();
        EXPECT_TRUE(release.wait());
        firstDone = true;
    });
    queue->addOperation(first);
    queue->addOperation([&] { secondRan = true; });
    ASSERT_TRUE(inside.wait());
    queue->setSuspended(true);
    release.set();
    first->waitUntilFinished();
    EXPECT_TRUE(firstDone);
    EXPECT_FALSE(secondRan);
    EXPECT_EQ(queue->operationCount(), 1u);
    queue->setSuspended(false);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(secondRan);
}

TEST(OperationQueueTest, SuspendAndResumeRacingWithAddsRunsEveryOperationOnce) {
    auto queue = OperationQueue::create("race", 4);
    constexpr int kAdders = 4, kPerAdder = 300;
    std::atomic<int> ran{0};
    std::atomic<bool> stop{false};
    std::thread toggler([&] {
        bool s = false;
        while (!stop) queue->setSuspended(s = !s);
        queue->setSuspended(false);
    });
    std::vector<std::thread> adders;
    for (int t = 0; t < kAdders; ++t) {
        adders.emplace_back([&] {
            for (int i = 0; i < kPerAdder; ++i) queue->addOperation([&] { ++ran; });
        });
    }
    for (auto& t : adders) t.join();
    stop = true;
    toggler.join();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, kAdders * kPerAdder);
    EXPECT_EQ(queue->operationCount(), 0u);
}

TEST(OperationQueueTest, CancelAllReachesRunningAndPendingOperations) {
    auto queue = OperationQueue::create("cancel", 1);
    Gate inside;
    std::atomic<bool> sawCancel{false};
    auto spinner = std::make_shared<Spinner>(inside, sawCancel);
    std::atomic<int> pendingMainRan{0}, completions{0};
    queue->addOperation(spinner);
    std::vector<std::shared_ptr<BlockOperation>> pending;
    for (int i = 0; i < 5; ++i) {
        pending.push_back(block([&] { ++pendingMainRan; }));
        pending.back()->setCompletion([&] { ++completions; });
        queue->addOperation(pending.back());
    }
    ASSERT_TRUE(inside.wait());
    queue->cancelAllOperations();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(sawCancel);
    EXPECT_EQ(pendingMainRan, 0);
    EXPECT_EQ(completions, 5);
    for (auto& op : pending) EXPECT_TRUE(op->isCancelled() && op->isFinished());
}

// ---- counting ----

TEST(OperationQueueTest, CountObserverHearsEveryChangeOnTheChangingThread) {
    auto queue = OperationQueue::create("count", 1, true);
    std::mutex mutex;
    std::vector<std::pair<size_t, bool>> heard;  // count, on the test thread
    const auto self = std::this_thread::get_id();
    queue->setCountObserver([&](size_t n) {
        std::lock_guard lock(mutex);
        heard.emplace_back(n, std::this_thread::get_id() == self);
    });
    queue->addOperation([] {});
    queue->addOperation([] {});
    queue->setSuspended(false);
    queue->waitUntilAllOperationsAreFinished();
    std::lock_guard lock(mutex);
    using P = std::pair<size_t, bool>;
    EXPECT_EQ(heard, (std::vector<P>{{1, true}, {2, true}, {1, false}, {0, false}}));
}

TEST(OperationQueueTest, WaitUntilAllFinishedSeesCompletionsAndAnEmptyQueue) {
    auto queue = OperationQueue::create("wait", 4);
    std::atomic<int> completions{0};
    for (int i = 0; i < 100; ++i) {
        auto op = block([] {});
        op->setCompletion([&] { ++completions; });
        queue->addOperation(op);
    }
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(completions, 100);
    EXPECT_EQ(queue->operationCount(), 0u);
    EXPECT_TRUE(queue->operations().empty());
}

TEST(OperationQueueTest, WaitInsideOwnOperationReturnsInsteadOfHanging) {
    auto queue = OperationQueue::create("self", 1);
    auto op = block([&] { queue->waitUntilAllOperationsAreFinished(); });
    queue->addOperation(op);
    op->waitUntilFinished();
    EXPECT_TRUE(op->isFinished());
}

// ---- faults and lifetime ----

TEST(OperationQueueTest, OperationIsRunOnceEvenWhenAddedTwice) {
    auto queue = OperationQueue::create("twice", 2);
    auto other = OperationQueue::create("other", 2);
    std::atomic<int> runs{0};
    auto op = block([&] { ++runs; });
    queue->addOperation(op);
    queue->addOperation(op);
    other->addOperation(op);
    queue->waitUntilAllOperationsAreFinished();
    other->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(runs, 1);
}

TEST(OperationQueueTest, ThrowingOperationFinishesAndFreesItsSlot) {
    auto queue = OperationQueue::create("throws", 1);
    auto bad = block([] { throw std::runtime_error("operation failed"); });
    std::atomic<bool> nextRan{false};
    queue->addOperation(bad);
    queue->addOperation([&] { nextRan = true; });
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(bad->isFinished());
    EXPECT_TRUE(nextRan);
}

TEST(OperationQueueTest, DestroyingAQueueCancelsWaitsAndReleasesPendingWaiters) {
    Gate inside;
    std::atomic<bool> sawCancel{false}, pendingRan{false};
    auto pending = block([&] { pendingRan = true; });
    {
        auto queue = OperationQueue::create("doomed", 1);
        queue->addOperation(std::make_shared<Spinner>(inside, sawCancel));
        queue->addOperation(pending);
        ASSERT_TRUE(inside.wait());
    }  // returns only once the running operation has seen its cancellation and ended
    EXPECT_TRUE(sawCancel);
    pending->waitUntilFinished();  // never started, but no longer waited for in vain
    EXPECT_FALSE(pendingRan);
    EXPECT_TRUE(pending->isCancelled());
}

TEST(OperationQueueTest, LastReferenceDroppedInsideItsOwnOperation) {
    Gate released, done;
    auto queue = OperationQueue::create("self-owned", 1);
    auto holder = std::make_shared<std::shared_ptr<OperationQueue>>(queue);
    queue->addOperation([holder, &released, &done] {
        EXPECT_TRUE(released.wait());
        holder->reset();  // the queue is destroyed here, on its own worker
        done.set();
    });
    queue.reset();
    released.set();
    EXPECT_TRUE(done.wait());
}

}  // namespace
