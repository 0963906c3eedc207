// Linked into every executable of the address-checker build.
//
// The leak checker looks at the process from its own exit handler, which runs after every
// global destructor. Qt's pooled threads are detached: the pool's destructor returns while
// they are still unwinding, and the checker's tracer faults on a thread that is half gone
// ("Tracer caught signal 11"), failing a process that did nothing wrong. So the first exit
// handler registered (and so the last to run before the checker's) waits a moment for the
// threads still ending to be gone.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace {

int threadCount() {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return 1;
    int count = 0;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(tasks);
    return count;
}

// Until only this thread is left, or no thread has ended for a tenth of a second (the
// rest are alive and blocked, which the tracer handles), and never more than a second.
void waitForEndingThreads() {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    auto lastChange = Clock::now();
    int count = threadCount();
    while (count > 1 && Clock::now() < deadline &&
           Clock::now() - lastChange < std::chrono::milliseconds(100)) {
        usleep(1000);
        const int now = threadCount();
        if (now != count) {
            count = now;
            lastChange = Clock::now();
        }
    }
}

__attribute__((constructor(101))) void registerWaitForEndingThreads() {
    std::atexit(waitForEndingThreads);
}

}  // namespace
