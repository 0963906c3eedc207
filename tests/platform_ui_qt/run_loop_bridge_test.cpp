// The main base::RunLoop served from Qt's loop: tasks, timers and sources keep working
// while Qt runs, an application-modal window switches to the modal-panel mode, and
// blocking waits run Qt's loop without spinning.
#include <sys/epoll.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "base/RunLoop.h"
#include "tests/helpers/desktop/DesktopTest.h"

namespace {

using base::kCommonRunLoopModes;
using base::kDefaultRunLoopMode;
using base::kModalPanelRunLoopMode;
using base::RunLoop;

class RunLoopBridgeTest : public testsupport::DesktopTest {};

TEST_F(RunLoopBridgeTest, TasksTimersAndSourcesRunWhileQtRuns) {
    std::string seen;
    QEventLoop loop;  // Qt's own loop runs here, not ours
    auto note = [&](char c) {
        seen += c;
        if (seen.size() == 3) {
            loop.quit();
        }
    };
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const auto source = RunLoop::main().addSource(fds[0], EPOLLIN, [&](uint32_t) {
        char c;
        ASSERT_EQ(::read(fds[0], &c, 1), 1);
        note(c);
    });
    RunLoop::main().addTimer(0.05, 0, [&] { note('T'); });
    std::thread worker([&] {
        base::MainQueue::post([&] { note('P'); });
        ASSERT_EQ(::write(fds[1], "S", 1), 1);
    });
    QTimer::singleShot(10000, &loop, [&] { loop.quit(); });
    loop.exec();
    worker.join();
    RunLoop::main().removeSource(source);
    ::close(fds[0]);
    ::close(fds[1]);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, "PST");
}

// A repeating 10 ms timer served through Qt keeps its pace: no firing is more than a
// few periods late while Qt sits idle (it would be if the bridge missed a re-arm).
TEST_F(RunLoopBridgeTest, TimersAddedFromAnotherThreadWakeAnIdleQtLoop) {
    std::atomic<int> fired{0};
    std::thread([&] { RunLoop::main().addTimer(0.01, 0.01, [&] { ++fired; }); }).join();
    EXPECT_TRUE(waitFor([&] { return fired >= 10; }, 5));
}

TEST_F(RunLoopBridgeTest, ApplicationModalWindowServesTheModalPanelMode) {
    bool defaultFired = false;
    bool commonFired = false;
    bool posted = false;
    QDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    QTimer::singleShot(0, &dialog, [&] {
        RunLoop::main().addTimer(0, 0, [&] { defaultFired = true; });
        RunLoop::main().addTimer(0, 0, [&] { commonFired = true; }, {kCommonRunLoopModes});
        std::thread([&] { base::MainQueue::post([&] { posted = true; }); }).join();
    });
    answerModal([&](QWidget&) {
        // Give the default-mode timer every chance to fire wrongly first.
        QTimer::singleShot(100, &dialog, [&] { dialog.accept(); });
    });
    dialog.exec();
    EXPECT_TRUE(commonFired);
    EXPECT_TRUE(posted);
    EXPECT_FALSE(defaultFired);
    EXPECT_TRUE(waitFor([&] { return defaultFired; }));
}

// The wait hook: Qt events are handled during a blocking wait (the answer of a Qt box
// arrives that way), the modal-panel mode is served, and the wait sleeps between events.
TEST_F(RunLoopBridgeTest, BlockingWaitRunsQtLoopInModalPanelModeWithoutSpinning) {
    bool qtEvent = false;
    bool modalTimer = false;
    bool defaultTimer = false;
    std::atomic<bool> done{false};
    QTimer::singleShot(50, [&] { qtEvent = true; });
    RunLoop::main().addTimer(0.02, 0, [&] { modalTimer = true; }, {kModalPanelRunLoopMode});
    RunLoop::main().addTimer(0.02, 0, [&] { defaultTimer = true; });
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        done = true;
        base::MainQueue::post([] {});
    });
    int looks = 0;
    EXPECT_TRUE(base::MainThreadWait::until(
        [&] {
            ++looks;
            return done.load();
        },
        10));
    worker.join();
    EXPECT_TRUE(qtEvent);
    EXPECT_TRUE(modalTimer);
    EXPECT_FALSE(defaultTimer);
    // A handful of wake-ups in 300 ms (the events above), where a 10 ms poll makes 30.
    EXPECT_LT(looks, 15);
    EXPECT_TRUE(waitFor([&] { return defaultTimer; }));
}

TEST_F(RunLoopBridgeTest, StoppingTheMainLoopEndsQtsLoop) {
    QEventLoop loop;
    bool timedOut = false;
    QTimer::singleShot(5000, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    base::MainQueue::post([] { RunLoop::main().stop(); });
    loop.exec();
    EXPECT_FALSE(timedOut);
}

}  // namespace
