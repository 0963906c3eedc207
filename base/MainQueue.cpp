#include <condition_variable>
#include <mutex>

#include "base/RunLoop.h"

namespace base::MainQueue {

void post(std::function<void()> task) {
    RunLoop::main().post(std::move(task));
}

void postAfter(double seconds, std::function<void()> task) {
    // Like posted tasks, delayed ones run in every mode.
    RunLoop::main().addTimer(seconds, 0, std::move(task), {});
}

void postAndWait(const std::function<void()>& task) {
    if (isMainThread()) {
        // Queueing behind ourselves would never return.
        if (task) {
            task();
        }
        return;
    }
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    RunLoop::main().post([&] {
        // Signals even when the task throws, so the caller is never left waiting.
        struct Signal {
            std::mutex& mutex;
            std::condition_variable& cv;
            bool& done;
            ~Signal() {
                std::lock_guard lock(mutex);
                done = true;
                cv.notify_one();
            }
        } signal{mutex, cv, done};
        if (task) {
            task();
        }
    });
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return done; });
}

bool isMainThread() {
    return RunLoop::isMainThread();
}

}  // namespace base::MainQueue
