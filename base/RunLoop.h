#pragma once
// One event loop per thread (epoll + eventfd): posted tasks, timers, descriptor
// sources and modes. A timer or source belongs to the modes it was added in and is
// served only while the loop runs in one of them; posted tasks run in every mode.
//
// Everything except running is thread-safe: any thread may post, add or remove
// timers and sources, or stop a loop. Running happens on the loop's own thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"

namespace base {

using RunLoopMode = std::string;
// The mode names are never destroyed: threads that are never joined (the network
// thread) use them while the process exits.
inline const RunLoopMode& kDefaultRunLoopMode = *new RunLoopMode("kCFRunLoopDefaultMode");
inline const RunLoopMode& kModalPanelRunLoopMode = *new RunLoopMode("NSModalPanelRunLoopMode");
// Adding in the common modes means default plus modal panel.
inline const RunLoopMode& kCommonRunLoopModes = *new RunLoopMode("kCFRunLoopCommonModes");

class RunLoop {
public:
    using TimerId = uint64_t;
    using SourceId = uint64_t;
    enum class RunResult { Finished, Stopped, TimedOut, HandledSource };

    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // The calling thread's loop, made on first use.
    static RunLoop& current();
    // The main thread's loop. The main thread is the first that calls setMainThread()
    // (programs from main(), tests from their test thread); calling it again from
    // another thread makes that thread the main one (tests only).
    static RunLoop& main();
    static void setMainThread();
    static bool isMainThread();

    // Replaces the clock that timers read (tests pass a ManualClock). With a manual
    // clock the loop never blocks for longer than a run call allows, and timers fire
    // when the clock has been advanced past them.
    void setClock(std::shared_ptr<Clock> clock);
    std::shared_ptr<Clock> clock() const;

    void post(std::function<void()> task);

    // A one-shot timer (interval 0) or a repeating one. Fires on this loop's thread.
    // An empty mode list means every mode, like posted tasks. A repeating timer that
    // falls behind skips the firings it missed.
    TimerId addTimer(double delaySeconds, double intervalSeconds, std::function<void()> fire,
                     std::vector<RunLoopMode> modes = {kDefaultRunLoopMode});
    void cancelTimer(TimerId id);

    // `events` is a mask of EPOLLIN/EPOLLOUT; `ready` receives the returned events.
    SourceId addSource(int fd, uint32_t events, std::function<void(uint32_t)> ready,
                       std::vector<RunLoopMode> modes = {kDefaultRunLoopMode});
    void setSourceEvents(SourceId id, uint32_t events);
    void setSourceModes(SourceId id, std::vector<RunLoopMode> modes);
    // After this returns the callback is not called again (unless it is running on
    // this very thread right now, in which case it finishes). The same holds for
    // cancelTimer(). Remove a source before closing its descriptor.
    void removeSource(SourceId id);

    // Runs in `mode` until stop(), until `timeoutSeconds` pass, or, with
    // `returnAfterSourceHandled`, after the first task, timer or source was handled.
    RunResult run(const RunLoopMode& mode, double timeoutSeconds,
                  bool returnAfterSourceHandled = false);
    // Runs the default mode until stop().
    void run();
    void stop();
    // Pumps `mode` until the predicate holds or `timeoutSeconds` pass; true when it held.
    bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds,
                  const RunLoopMode& mode = kDefaultRunLoopMode);
    // The mode of the innermost run call on this loop, empty when not running.
    RunLoopMode currentMode() const;

private:
    RunLoop();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The main thread's loop, as a queue.
namespace MainQueue {
void post(std::function<void()> task);
void postAfter(double seconds, std::function<void()> task);
// Runs the task on the main thread and waits for it; runs inline on the main thread.
void postAndWait(const std::function<void()>& task);
bool isMainThread();
}  // namespace MainQueue

}  // namespace base
