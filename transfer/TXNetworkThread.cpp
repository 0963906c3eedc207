#include "transfer/TXNetworkThread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::mutex startLock;
base::RunLoop* networkLoop = nullptr;
std::thread::id networkThreadId;

}  // namespace

base::RunLoop& TXNetworkThread::runLoop() {
    std::unique_lock guard(startLock);
    if (networkLoop)
        return *networkLoop;
    std::condition_variable ready;
    std::thread([&ready] {
        base::RunLoop& loop = base::RunLoop::current();
        {
            std::lock_guard inner(startLock);
            networkLoop = &loop;
            networkThreadId = std::this_thread::get_id();
        }
        ready.notify_all();
        for (;;) {
            loop.run(base::kDefaultRunLoopMode, 1e10);
        }
    }).detach();
    ready.wait(guard, [] { return networkLoop != nullptr; });
    return *networkLoop;
}

bool TXNetworkThread::isNetworkThread() {
    std::lock_guard guard(startLock);
    return networkLoop && std::this_thread::get_id() == networkThreadId;
}
