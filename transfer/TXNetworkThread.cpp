#include "transfer/TXNetworkThread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::mutex startLock;
base::RunLoop* networkLoop = nullptr;
std::thread::id networkThreadId;
// Never destroyed: the starting caller may return (and unwind) as soon as it is
// woken, and the process may exit while the network thread still runs.
std::condition_variable& started = *new std::condition_variable;

}  // namespace

base::RunLoop& TXNetworkThread::runLoop() {
    std::unique_lock guard(startLock);
    if (networkLoop)
        return *networkLoop;
    // A second caller arriving while the thread starts waits for it instead of
    // starting another one.
    static bool starting = false;
    if (starting) {
        started.wait(guard, [] { return networkLoop != nullptr; });
        return *networkLoop;
    }
    starting = true;
    std::thread([] {
        base::RunLoop& loop = base::RunLoop::current();
        {
            std::lock_guard inner(startLock);
            networkLoop = &loop;
            networkThreadId = std::this_thread::get_id();
            started.notify_all();
        }
        for (;;) {
            loop.run(base::kDefaultRunLoopMode, 1e10);
        }
    }).detach();
    started.wait(guard, [] { return networkLoop != nullptr; });
    return *networkLoop;
}

bool TXNetworkThread::isNetworkThread() {
    std::lock_guard guard(startLock);
    return networkLoop && std::this_thread::get_id() == networkThreadId;
}

bool TXNetworkThread::isNetworkRunLoop(const base::RunLoop* loop) {
    std::lock_guard guard(startLock);
    return loop && loop == networkLoop;
}
