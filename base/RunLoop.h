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
#include <optional>
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

    // A timer or source that stays registered for as long as its handle lives:
    // destroying the handle, assigning another to it or reset() removes it, with the
    // guarantee of removeSource(). Move-only; an empty handle holds nothing. The loop
    // must outlive the handle.
    class Registration {
      public:
        Registration() = default;
        Registration(Registration&& other) noexcept { take(other); }
        Registration& operator=(Registration&& other) noexcept;
        ~Registration() { reset(); }
        void reset();
        explicit operator bool() const { return loop_ != nullptr; }

      protected:
        enum class Kind : uint8_t { Timer, Source };
        Registration(RunLoop* loop, uint64_t id, Kind kind) : loop_(loop), id_(id), kind_(kind) {}
        void take(Registration& other) noexcept;

        RunLoop* loop_ = nullptr;
        uint64_t id_ = 0;
        Kind kind_ = Kind::Timer;
    };
    class Timer : public Registration {
      public:
        Timer() = default;

      private:
        friend class RunLoop;
        Timer(RunLoop* loop, TimerId id) : Registration(loop, id, Kind::Timer) {}
    };
    class Source : public Registration {
      public:
        Source() = default;
        void setEvents(uint32_t events);
        void setModes(std::vector<RunLoopMode> modes);

      private:
        friend class RunLoop;
        Source(RunLoop* loop, SourceId id) : Registration(loop, id, Kind::Source) {}
    };

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
    // The same timer, removed when the handle goes.
    [[nodiscard]] Timer makeTimer(double delaySeconds, double intervalSeconds,
                                  std::function<void()> fire,
                                  std::vector<RunLoopMode> modes = {kDefaultRunLoopMode});

    // `events` is a mask of EPOLLIN/EPOLLOUT; `ready` receives the returned events.
    SourceId addSource(int fd, uint32_t events, std::function<void(uint32_t)> ready,
                       std::vector<RunLoopMode> modes = {kDefaultRunLoopMode});
    void setSourceEvents(SourceId id, uint32_t events);
    void setSourceModes(SourceId id, std::vector<RunLoopMode> modes);
    // After this returns the callback is not called again (unless it is running on
    // this very thread right now, in which case it finishes). The same holds for
    // cancelTimer(). Remove a source before closing its descriptor.
    void removeSource(SourceId id);
    // The same source, removed when the handle goes (before its descriptor closes).
    [[nodiscard]] Source makeSource(int fd, uint32_t events, std::function<void(uint32_t)> ready,
                                    std::vector<RunLoopMode> modes = {kDefaultRunLoopMode});

    // Runs in `mode` until stop(), until `timeoutSeconds` pass, or, with
    // `returnAfterSourceHandled`, after the first task, timer or source was handled.
    RunResult run(const RunLoopMode& mode, double timeoutSeconds,
                  bool returnAfterSourceHandled = false);
    // Runs the default mode until stop().
    void run();
    void stop();
    // Pumps `mode` until the predicate holds or `timeoutSeconds` pass; true when it held.
    // The predicate is looked at again after each task, timer or source the loop
    // handles, so whatever makes it true must reach the loop (a post wakes it). State
    // that another thread changes without telling the loop is looked at every
    // `recheckSeconds` (never by default).
    bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds,
                  const RunLoopMode& mode = kDefaultRunLoopMode,
                  std::optional<double> recheckSeconds = std::nullopt);
    // The mode of the innermost run call on this loop, empty when not running.
    RunLoopMode currentMode() const;

    // For another event loop that serves this one on the same thread (the desktop's):
    // a descriptor that polls readable whenever a task, a source of `mode` or a wake-up
    // is waiting, and the seconds until `mode` has work: 0 when tasks are queued, a stop
    // was asked or a timer is due; the time to its next timer; nothing when it has none
    // (with a manual clock, advancing it wakes the descriptor). Serve it by run(mode, 0).
    int pollDescriptor(const RunLoopMode& mode);
    std::optional<double> secondsUntilWork(const RunLoopMode& mode) const;

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

// Blocking waits on the main thread (an alert waiting for its answer, the file
// manager's waiting variants) keep the interface alive through one hook. By default it
// serves RunLoop::main() in the modal-panel mode; a desktop program points it at its
// own loop. The hook waits for something to happen, at most `maxSeconds`, and serves it.
namespace MainThreadWait {
using Hook = std::function<void(double maxSeconds)>;
// An empty hook restores the default.
void setHook(Hook hook);
// Waits until `done` holds or `timeoutSeconds` pass; true when it held. Whatever makes
// `done` true must wake the main thread (post to it); a condition that changes without
// doing so (the file system) is looked at again every `recheckSeconds`. Off the main
// thread it sleeps between looks.
bool until(const std::function<bool()>& done, double timeoutSeconds, double recheckSeconds = 3600);
}  // namespace MainThreadWait

}  // namespace base
