#include "base/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/helpers/Flag.h"

using base::Notification;
using base::NotificationCenter;
using base::Observation;

namespace {

using testsupport::Flag;

// ---- delivery ----

TEST(NotificationCenterTest, DeliversByNameAndSenderInRegistrationOrder) {
    NotificationCenter center;
    int senderA = 0, senderB = 0;
    std::vector<std::string> heard;
    center.addObserver("Changed",
                       [&](const Notification& n) { heard.push_back("named:" + n.name); });
    center.addObserver("", [&](const Notification& n) { heard.push_back("all:" + n.name); });
    center.addObserver(
        "Changed", [&](const Notification&) { heard.push_back("fromA"); }, &senderA);

    center.post("Changed", &senderB);
    EXPECT_EQ(heard, (std::vector<std::string>{"named:Changed", "all:Changed"}));
    heard.clear();
    center.post("Changed", &senderA);
    EXPECT_EQ(heard, (std::vector<std::string>{"named:Changed", "all:Changed", "fromA"}));
    heard.clear();
    center.post("Other");
    EXPECT_EQ(heard, (std::vector<std::string>{"all:Other"}));
}

TEST(NotificationCenterTest, HandlersRunSynchronouslyOnThePostingThread) {
    NotificationCenter center;
    std::thread::id handlerThread;
    const void* sender = nullptr;
    int object = 0;
    center.addObserver("Ping", [&](const Notification& n) {
        handlerThread = std::this_thread::get_id();
        sender = n.object;
    });
    std::thread poster([&] {
        center.post("Ping", &object);
        // Already delivered when post returns.
        EXPECT_EQ(handlerThread, std::this_thread::get_id());
    });
    poster.join();
    EXPECT_EQ(sender, &object);
}

TEST(NotificationCenterTest, PostingFromInsideAHandlerDeliversAtOnce) {
    NotificationCenter center;
    std::vector<std::string> heard;
    center.addObserver("Outer", [&](const Notification&) {
        heard.push_back("outer-begin");
        center.post("Inner");
        heard.push_back("outer-end");
    });
    center.addObserver("Inner", [&](const Notification&) { heard.push_back("inner"); });
    center.post("Outer");
    EXPECT_EQ(heard, (std::vector<std::string>{"outer-begin", "inner", "outer-end"}));
}

TEST(NotificationCenterTest, ObserverAddedDuringAPostHearsOnlyLaterPosts) {
    NotificationCenter center;
    int lateCalls = 0;
    bool added = false;
    center.addObserver("N", [&](const Notification&) {
        if (!added) {
            added = true;
            center.addObserver("N", [&](const Notification&) { ++lateCalls; });
        }
    });
    center.post("N");
    EXPECT_EQ(lateCalls, 0);
    center.post("N");
    EXPECT_EQ(lateCalls, 1);
}

// ---- removal ----

TEST(NotificationCenterTest, RemovingItselfInsideTheHandlerDoesNotDeadlock) {
    NotificationCenter center;
    int calls = 0;
    NotificationCenter::ObserverId id = 0;
    id = center.addObserver("N", [&](const Notification&) {
        ++calls;
        center.removeObserver(id);
    });
    center.post("N");
    center.post("N");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, ObserverRemovedEarlierInThePostIsSkipped) {
    NotificationCenter center;
    int secondCalls = 0;
    NotificationCenter::ObserverId second = 0;
    center.addObserver("N", [&](const Notification&) { center.removeObserver(second); });
    second = center.addObserver("N", [&](const Notification&) { ++secondCalls; });
    center.post("N");
    EXPECT_EQ(secondCalls, 0);
}

// Removal on one thread while the handler runs on another returns only after that
// call has ended.
TEST(NotificationCenterTest, RemovalWaitsForAHandlerRunningOnAnotherThread) {
    NotificationCenter center;
    Flag inHandler, removerStarted;
    std::atomic<bool> handlerEnded{false};
    const auto id = center.addObserver("N", [&](const Notification&) {
        inHandler.set();
        EXPECT_TRUE(removerStarted.wait());
        for (int i = 0; i < 2000; ++i) std::this_thread::yield();
        handlerEnded = true;
    });
    std::thread poster([&] { center.post("N"); });
    ASSERT_TRUE(inHandler.wait());
    removerStarted.set();
    center.removeObserver(id);
    EXPECT_TRUE(handlerEnded);
    poster.join();
}

TEST(NotificationCenterTest, RemovedObserverIsNeverCalledWhilePostersRace) {
    NotificationCenter center;
    std::atomic<bool> removed{false}, calledAfterRemoval{false}, stop{false};
    std::atomic<int> calls{0};
    const auto id = center.addObserver("Tick", [&](const Notification&) {
        if (removed)
            calledAfterRemoval = true;
        ++calls;
    });
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            while (!stop) center.post("Tick");
        });
    }
    while (calls < 200) std::this_thread::yield();
    center.removeObserver(id);
    removed = true;
    const int atRemoval = calls;
    for (int i = 0; i < 200; ++i) center.post("Tick");
    stop = true;
    for (auto& t : posters) t.join();
    EXPECT_FALSE(calledAfterRemoval);
    EXPECT_EQ(calls, atRemoval);
}

TEST(NotificationCenterTest, AddRemoveAndPostFromManyThreads) {
    NotificationCenter center;
    std::atomic<int> calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                const auto id = center.addObserver("Busy", [&](const Notification&) { ++calls; });
                center.post("Busy");
                center.removeObserver(id);
            }
        });
    }
    for (auto& t : threads) t.join();
    // Each post reaches at least its own thread's observer.
    EXPECT_GE(calls, 6 * 300);
    const int before = calls;
    center.post("Busy");
    EXPECT_EQ(calls, before);
}

TEST(NotificationCenterTest, ObservationRemovesOnDestructionAndMove) {
    NotificationCenter center;
    int calls = 0;
    {
        Observation outer;
        {
            Observation inner(center,
                              center.addObserver("N", [&](const Notification&) { ++calls; }));
            outer = std::move(inner);
        }  // the moved-from one removes nothing
        center.post("N");
        EXPECT_EQ(calls, 1);
    }
    center.post("N");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, DefaultCenterIsOneSharedInstance) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
    int calls = 0;
    Observation observation(NotificationCenter::defaultCenter(),
                            NotificationCenter::defaultCenter().addObserver(
                                "base.test.Shared", [&](const Notification&) { ++calls; }));
    NotificationCenter::defaultCenter().post("base.test.Shared");
    EXPECT_EQ(calls, 1);
}

}  // namespace
