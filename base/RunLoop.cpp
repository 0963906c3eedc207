#include "base/RunLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>

namespace base {

namespace {

// epoll data tag of the loop's own wake-up descriptor; source registrations carry the fd.
constexpr uint64_t kWakeTag = ~uint64_t{0};
constexpr int kMaxEvents = 64;
// Longest single epoll wait; longer runs simply wait again.
constexpr double kMaxWaitSeconds = 3600;

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The common modes stand for default plus modal panel. Empty means every mode.
std::vector<RunLoopMode> expandModes(std::vector<RunLoopMode> modes) {
    std::vector<RunLoopMode> out;
    auto add = [&out](RunLoopMode m) {
        if (std::find(out.begin(), out.end(), m) == out.end()) {
            out.push_back(std::move(m));
        }
    };
    for (auto& m : modes) {
        if (m == kCommonRunLoopModes) {
            add(kDefaultRunLoopMode);
            add(kModalPanelRunLoopMode);
        } else {
            add(std::move(m));
        }
    }
    return out;
}

bool servesMode(const std::vector<RunLoopMode>& modes, const RunLoopMode& mode) {
    return modes.empty() || std::find(modes.begin(), modes.end(), mode) != modes.end();
}

// Callbacks are a queue boundary: an exception must not unwind through the loop.
template <typename F>
void invokeGuarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        (void)std::fprintf(stderr, "run loop: uncaught exception in callback: %s\n", e.what());
    } catch (...) {
        (void)std::fprintf(stderr, "run loop: uncaught exception in callback\n");
    }
}

int waitMilliseconds(double seconds) {
    if (!(seconds > 0)) {
        return 0;
    }
    seconds = std::min(seconds, kMaxWaitSeconds);
    // Round up so a timer is never checked just before it is due and spun on.
    return static_cast<int>(std::ceil(seconds * 1000.0));
}

}  // namespace

namespace detail {

struct LoopState {
    using TimerId = RunLoop::TimerId;
    using SourceId = RunLoop::SourceId;
    using Callback = std::shared_ptr<std::function<void()>>;
    using SourceCallback = std::shared_ptr<std::function<void(uint32_t)>>;

    struct Timer {
        double fireAt = 0;  // on the clock's monotonic scale
        double interval = 0;
        Callback fire;
        std::vector<RunLoopMode> modes;
    };
    struct Source {
        int fd = -1;
        uint32_t events = 0;
        SourceCallback ready;
        std::vector<RunLoopMode> modes;
    };
    // One epoll set per mode, so a nested run in another mode needs no re-registration.
    struct ModeSet {
        int epfd = -1;
        std::unordered_map<int, uint32_t> registered;  // fd -> events in the set
    };

    LoopState();
    ~LoopState();
    LoopState(const LoopState&) = delete;
    LoopState& operator=(const LoopState&) = delete;

    void wake() const;
    void drainWake() const;
    bool onOwnerThread() const { return owner.load() == std::this_thread::get_id(); }

    ModeSet& modeSetLocked(const RunLoopMode& mode);
    // `force` re-registers even when the cached registration looks right: a descriptor
    // closed without removing its source loses its registration, and a new one may
    // arrive under the same number.
    void syncFdLocked(ModeSet& set, const RunLoopMode& mode, int fd, bool force = false);
    void syncFdEverywhereLocked(int fd, bool force = false);
    void eraseTimerLocked(TimerId id, Callback& doomed);
    void waitNotRunningLocked(std::unique_lock<std::mutex>& lock, uint64_t id);

    bool consumeStop();
    bool fireDueTimers(const RunLoopMode& mode, bool justOne);
    bool runTasks(bool justOne);
    // Every source of the descriptor hears the event, so one source can never starve
    // another on the same descriptor.
    bool dispatchFd(const RunLoopMode& mode, int fd, uint32_t revents);
    int computeWaitMs(const RunLoopMode& mode, double deadline);
    void adoptQueuedWorkFrom(LoopState& other);

    mutable std::mutex mutex;
    std::condition_variable callbackDone;
    int wakeFd = -1;
    std::atomic<std::thread::id> owner{};
    std::shared_ptr<Clock> clock = Clock::system();
    std::atomic<const Clock*> clockIdentity{nullptr};
    std::deque<std::function<void()>> tasks;
    std::map<TimerId, Timer> timers;
    std::set<std::pair<double, TimerId>> timerOrder;
    std::map<SourceId, Source> sources;
    std::map<RunLoopMode, ModeSet> modeSets;
    std::vector<RunLoopMode> modeStack;
    std::multiset<uint64_t> running;  // timer and source ids whose callback is running
    uint64_t nextId = 1;              // timers and sources share one id space
    bool stopRequested = false;
};

}  // namespace detail

using detail::LoopState;
struct RunLoop::Impl : LoopState {};

// ---- registry of live loops, for manual clocks that wake their loops ----

namespace {
std::mutex gLoopsMutex;
std::set<LoopState*>& liveLoops() {
    static auto* loops = new std::set<LoopState*>;  // outlives every thread's loop
    return *loops;
}
}  // namespace

namespace detail {
void wakeLoopsUsing(const Clock& clock) {
    std::lock_guard lock(gLoopsMutex);
    for (LoopState* impl : liveLoops()) {
        if (impl->clockIdentity.load() == &clock) {
            impl->wake();
        }
    }
}
}  // namespace detail

LoopState::LoopState() {
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        std::perror("run loop: eventfd");
        std::abort();
    }
    clockIdentity = clock.get();
    std::lock_guard lock(gLoopsMutex);
    liveLoops().insert(this);
}

LoopState::~LoopState() {
    {
        std::lock_guard lock(gLoopsMutex);
        liveLoops().erase(this);
    }
    for (auto& [mode, set] : modeSets) {
        ::close(set.epfd);
    }
    ::close(wakeFd);
}

void LoopState::wake() const {
    uint64_t one = 1;
    // EAGAIN means the counter is already huge: the loop is awake anyway.
    while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void LoopState::drainWake() const {
    uint64_t value;
    while (::read(wakeFd, &value, sizeof value) > 0) {
    }
}

LoopState::ModeSet& LoopState::modeSetLocked(const RunLoopMode& mode) {
    auto it = modeSets.find(mode);
    if (it != modeSets.end()) {
        return it->second;
    }
    ModeSet set;
    set.epfd = ::epoll_create1(EPOLL_CLOEXEC);
    if (set.epfd < 0) {
        std::perror("run loop: epoll_create1");
        std::abort();
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeTag;
    ::epoll_ctl(set.epfd, EPOLL_CTL_ADD, wakeFd, &ev);
    ModeSet& added = modeSets.emplace(mode, std::move(set)).first->second;
    for (const auto& [id, source] : sources) {
        if (servesMode(source.modes, mode)) {
            syncFdLocked(added, mode, source.fd);
        }
    }
    return added;
}

// Registers `fd` in the mode's set with the union of what its sources in that mode want.
void LoopState::syncFdLocked(ModeSet& set, const RunLoopMode& mode, int fd, bool force) {
    uint32_t wanted = 0;
    for (const auto& [id, source] : sources) {
        if (source.fd == fd && servesMode(source.modes, mode)) {
            wanted |= source.events;
        }
    }
    auto it = set.registered.find(fd);
    epoll_event ev{};
    ev.events = wanted;
    ev.data.u64 = static_cast<uint64_t>(fd);
    if (wanted == 0) {
        if (it != set.registered.end()) {
            // Fails harmlessly when the descriptor was closed before its source went.
            ::epoll_ctl(set.epfd, EPOLL_CTL_DEL, fd, nullptr);
            set.registered.erase(it);
        }
        return;
    }
    if (it == set.registered.end()) {
        if (::epoll_ctl(set.epfd, EPOLL_CTL_ADD, fd, &ev) < 0 && errno == EEXIST) {
            ::epoll_ctl(set.epfd, EPOLL_CTL_MOD, fd, &ev);
        }
        set.registered[fd] = wanted;
    } else if (force || it->second != wanted) {
        if (::epoll_ctl(set.epfd, EPOLL_CTL_MOD, fd, &ev) < 0 && errno == ENOENT) {
            ::epoll_ctl(set.epfd, EPOLL_CTL_ADD, fd, &ev);
        }
        it->second = wanted;
    }
}

void LoopState::syncFdEverywhereLocked(int fd, bool force) {
    for (auto& [mode, set] : modeSets) {
        syncFdLocked(set, mode, fd, force);
    }
}

void LoopState::eraseTimerLocked(TimerId id, Callback& doomed) {
    auto it = timers.find(id);
    if (it == timers.end()) {
        return;
    }
    timerOrder.erase({it->second.fireAt, id});
    doomed = std::move(it->second.fire);
    timers.erase(it);
}

// A callback of `id` running on another thread is waited for; one running on the
// loop's own thread is the caller itself (or below it), and waiting would deadlock.
void LoopState::waitNotRunningLocked(std::unique_lock<std::mutex>& lock, uint64_t id) {
    if (onOwnerThread()) {
        return;
    }
    callbackDone.wait(lock, [&] { return running.count(id) == 0; });
}

bool LoopState::consumeStop() {
    std::lock_guard lock(mutex);
    return std::exchange(stopRequested, false);
}

bool LoopState::fireDueTimers(const RunLoopMode& mode, bool justOne) {
    std::vector<TimerId> due;
    {
        std::lock_guard lock(mutex);
        const double now = clock->monotonic();
        for (const auto& [fireAt, id] : timerOrder) {
            if (fireAt > now) {
                break;
            }
            if (servesMode(timers.at(id).modes, mode)) {
                due.push_back(id);
            }
        }
    }
    bool handled = false;
    for (TimerId id : due) {
        Callback fire;
        Callback doomed;
        {
            std::lock_guard lock(mutex);
            auto it = timers.find(id);
            const double now = clock->monotonic();
            if (it == timers.end() || !servesMode(it->second.modes, mode) ||
                it->second.fireAt > now) {
                continue;
            }
            Timer& timer = it->second;
            fire = timer.fire;
            if (timer.interval > 0) {
                // Missed firings are skipped: the next one stays on the timer's grid.
                const double behind = now - timer.fireAt;
                const double steps = std::floor(behind / timer.interval) + 1;
                timerOrder.erase({timer.fireAt, id});
                timer.fireAt += steps * timer.interval;
                timerOrder.insert({timer.fireAt, id});
            } else {
                eraseTimerLocked(id, doomed);
            }
            running.insert(id);
        }
        invokeGuarded([&] { (*fire)(); });
        {
            std::lock_guard lock(mutex);
            running.erase(running.find(id));
        }
        callbackDone.notify_all();
        handled = true;
        if (justOne) {
            break;
        }
    }
    return handled;
}

bool LoopState::runTasks(bool justOne) {
    size_t count;
    {
        std::lock_guard lock(mutex);
        count = tasks.size();
    }
    // Only the tasks queued now: tasks that post tasks must not starve the loop.
    bool handled = false;
    for (size_t i = 0; i < count; ++i) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex);
            if (tasks.empty()) {
                break;  // a nested run took them
            }
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        if (task) {
            invokeGuarded(task);
        }
        handled = true;
        if (justOne) {
            break;
        }
    }
    return handled;
}

bool LoopState::dispatchFd(const RunLoopMode& mode, int fd, uint32_t revents) {
    std::vector<SourceId> ids;
    {
        std::lock_guard lock(mutex);
        for (const auto& [id, source] : sources) {
            if (source.fd == fd && servesMode(source.modes, mode)) {
                ids.push_back(id);
            }
        }
    }
    bool handled = false;
    for (SourceId id : ids) {
        SourceCallback ready;
        uint32_t delivered;
        {
            std::lock_guard lock(mutex);
            auto it = sources.find(id);
            if (it == sources.end() || it->second.fd != fd || !servesMode(it->second.modes, mode) ||
                it->second.events == 0) {
                continue;
            }
            delivered = revents & (it->second.events | EPOLLERR | EPOLLHUP);
            if (delivered == 0) {
                continue;
            }
            ready = it->second.ready;
            running.insert(id);
        }
        invokeGuarded([&] { (*ready)(delivered); });
        {
            std::lock_guard lock(mutex);
            running.erase(running.find(id));
        }
        callbackDone.notify_all();
        handled = true;
    }
    return handled;
}

int LoopState::computeWaitMs(const RunLoopMode& mode, double deadline) {
    std::lock_guard lock(mutex);
    if (!tasks.empty() || stopRequested) {
        return 0;
    }
    double wait = deadline - steadySeconds();
    // A manual clock only moves when told to, and telling it wakes the loop, so its
    // timers never shorten the wait.
    if (!clock->isManual()) {
        const double now = clock->monotonic();
        for (const auto& [fireAt, id] : timerOrder) {
            if (servesMode(timers.at(id).modes, mode)) {
                wait = std::min(wait, fireAt - now);
                break;
            }
        }
    } else {
        const double now = clock->monotonic();
        for (const auto& [fireAt, id] : timerOrder) {
            if (fireAt > now) {
                break;
            }
            if (servesMode(timers.at(id).modes, mode)) {
                return 0;
            }
        }
    }
    return waitMilliseconds(wait);
}

void LoopState::adoptQueuedWorkFrom(LoopState& other) {
    std::scoped_lock lock(mutex, other.mutex);
    for (auto& task : other.tasks) {
        tasks.push_back(std::move(task));
    }
    other.tasks.clear();
    const double otherNow = other.clock->monotonic();
    const double now = clock->monotonic();
    for (auto& [id, timer] : other.timers) {
        Timer moved = std::move(timer);
        moved.fireAt = now + (moved.fireAt - otherNow);
        const TimerId newId = nextId++;
        timerOrder.insert({moved.fireAt, newId});
        timers.emplace(newId, std::move(moved));
    }
    other.timers.clear();
    other.timerOrder.clear();
}

// ---- per-thread loops and the main thread ----

namespace {

struct ThreadLoop {
    std::shared_ptr<RunLoop> loop;
    LoopState* state = nullptr;
    ~ThreadLoop();
};
thread_local ThreadLoop tThreadLoop;

std::mutex gMainMutex;
// Never destroyed: threads still running while the process exits (a transfer being
// cancelled, a queue's worker) may post to the main loop to the very end.
std::shared_ptr<RunLoop>& gMainLoop = *new std::shared_ptr<RunLoop>;  // guarded by gMainMutex
LoopState* gMainState = nullptr;     // guarded by gMainMutex
std::atomic<std::thread::id> gMainThread{};

ThreadLoop::~ThreadLoop() {
    if (!loop) {
        return;
    }
    {
        std::lock_guard lock(gMainMutex);
        if (gMainLoop == loop) {
            // The main loop outlives its thread; a later setMainThread() adopts it.
            gMainThread = std::thread::id{};
            state->owner = std::thread::id{};
        }
    }
    loop.reset();
}

}  // namespace

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}
RunLoop::~RunLoop() = default;

RunLoop& RunLoop::current() {
    if (!tThreadLoop.loop) {
        tThreadLoop.loop = std::shared_ptr<RunLoop>(new RunLoop());
        tThreadLoop.state = tThreadLoop.loop->impl_.get();
        tThreadLoop.state->owner = std::this_thread::get_id();
    }
    return *tThreadLoop.loop;
}

RunLoop& RunLoop::main() {
    std::lock_guard lock(gMainMutex);
    // Work for the main thread may be queued before any thread said it is the main
    // one; it waits in a loop of its own until one does.
    if (!gMainLoop) {
        gMainLoop = std::shared_ptr<RunLoop>(new RunLoop());
        gMainState = gMainLoop->impl_.get();
    }
    return *gMainLoop;
}

void RunLoop::setMainThread() {
    std::lock_guard lock(gMainMutex);
    const auto self = std::this_thread::get_id();
    if (gMainLoop && gMainLoop == tThreadLoop.loop) {
        gMainThread = self;
        return;
    }
    const bool unbound = gMainLoop && gMainState->owner.load() == std::thread::id{};
    if (unbound && !tThreadLoop.loop) {
        tThreadLoop.loop = gMainLoop;
        tThreadLoop.state = gMainState;
        gMainState->owner = self;
        gMainThread = self;
        return;
    }
    current();
    if (unbound) {
        tThreadLoop.state->adoptQueuedWorkFrom(*gMainState);
        // Callers may still hold the old main loop by reference; it stays allocated.
        static auto* retired = new std::vector<std::shared_ptr<RunLoop>>;
        retired->push_back(gMainLoop);
    }
    gMainLoop = tThreadLoop.loop;
    gMainState = tThreadLoop.state;
    gMainThread = self;
    gMainState->wake();
}

bool RunLoop::isMainThread() {
    return gMainThread.load() == std::this_thread::get_id();
}

// ---- public interface ----

void RunLoop::setClock(std::shared_ptr<Clock> clock) {
    if (!clock) {
        clock = Clock::system();
    }
    {
        std::lock_guard lock(impl_->mutex);
        const double oldNow = impl_->clock->monotonic();
        const double newNow = clock->monotonic();
        // Timers keep the time they had left.
        impl_->timerOrder.clear();
        for (auto& [id, timer] : impl_->timers) {
            timer.fireAt = newNow + (timer.fireAt - oldNow);
            impl_->timerOrder.insert({timer.fireAt, id});
        }
        impl_->clock = std::move(clock);
        impl_->clockIdentity = impl_->clock.get();
    }
    impl_->wake();
}

std::shared_ptr<Clock> RunLoop::clock() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->clock;
}

void RunLoop::post(std::function<void()> task) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->tasks.push_back(std::move(task));
    }
    impl_->wake();
}

RunLoop::TimerId RunLoop::addTimer(double delaySeconds, double intervalSeconds,
                                   std::function<void()> fire, std::vector<RunLoopMode> modes) {
    LoopState::Timer timer;
    timer.interval = intervalSeconds > 0 ? intervalSeconds : 0;
    timer.fire = std::make_shared<std::function<void()>>(std::move(fire));
    timer.modes = expandModes(std::move(modes));
    TimerId id;
    {
        std::lock_guard lock(impl_->mutex);
        id = impl_->nextId++;
        timer.fireAt = impl_->clock->monotonic() + (delaySeconds > 0 ? delaySeconds : 0);
        impl_->timerOrder.insert({timer.fireAt, id});
        impl_->timers.emplace(id, std::move(timer));
    }
    impl_->wake();
    return id;
}

void RunLoop::cancelTimer(TimerId id) {
    LoopState::Callback doomed;  // destroyed after the lock is released
    std::unique_lock lock(impl_->mutex);
    impl_->eraseTimerLocked(id, doomed);
    impl_->waitNotRunningLocked(lock, id);
}

RunLoop::SourceId RunLoop::addSource(int fd, uint32_t events, std::function<void(uint32_t)> ready,
                                     std::vector<RunLoopMode> modes) {
    LoopState::Source source;
    source.fd = fd;
    source.events = events;
    source.ready = std::make_shared<std::function<void(uint32_t)>>(std::move(ready));
    source.modes = expandModes(std::move(modes));
    std::lock_guard lock(impl_->mutex);
    const SourceId id = impl_->nextId++;
    const auto modesOfSource = source.modes;
    impl_->sources.emplace(id, std::move(source));
    if (modesOfSource.empty()) {
        impl_->syncFdEverywhereLocked(fd, true);
    } else {
        for (const auto& mode : modesOfSource) {
            impl_->syncFdLocked(impl_->modeSetLocked(mode), mode, fd, true);
        }
    }
    return id;
}

void RunLoop::setSourceEvents(SourceId id, uint32_t events) {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->sources.find(id);
    if (it == impl_->sources.end()) {
        return;
    }
    it->second.events = events;
    impl_->syncFdEverywhereLocked(it->second.fd);
}

void RunLoop::setSourceModes(SourceId id, std::vector<RunLoopMode> modes) {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->sources.find(id);
    if (it == impl_->sources.end()) {
        return;
    }
    it->second.modes = expandModes(std::move(modes));
    for (const auto& mode : it->second.modes) {
        impl_->modeSetLocked(mode);
    }
    impl_->syncFdEverywhereLocked(it->second.fd);
}

void RunLoop::removeSource(SourceId id) {
    LoopState::SourceCallback doomed;  // destroyed after the lock is released
    std::unique_lock lock(impl_->mutex);
    auto it = impl_->sources.find(id);
    if (it != impl_->sources.end()) {
        const int fd = it->second.fd;
        doomed = std::move(it->second.ready);
        impl_->sources.erase(it);
        impl_->syncFdEverywhereLocked(fd);
    }
    impl_->waitNotRunningLocked(lock, id);
}

RunLoop::RunResult RunLoop::run(const RunLoopMode& mode, double timeoutSeconds,
                                bool returnAfterSourceHandled) {
    const double deadline =
        steadySeconds() + (timeoutSeconds > 0 ? std::min(timeoutSeconds, 1e12) : 0.0);
    int epfd;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->modeStack.push_back(mode);
        epfd = impl_->modeSetLocked(mode).epfd;
    }
    struct PopMode {
        LoopState& impl;
        ~PopMode() {
            std::lock_guard lock(impl.mutex);
            impl.modeStack.pop_back();
        }
    } popMode{*impl_};

    const bool justOne = returnAfterSourceHandled;
    epoll_event events[kMaxEvents];
    for (;;) {
        if (impl_->consumeStop()) {
            return RunResult::Stopped;
        }
        if (impl_->fireDueTimers(mode, justOne) && justOne) {
            return RunResult::HandledSource;
        }
        if (impl_->runTasks(justOne) && justOne) {
            return RunResult::HandledSource;
        }
        if (impl_->consumeStop()) {
            return RunResult::Stopped;
        }

        const int n = ::epoll_wait(epfd, events, kMaxEvents, impl_->computeWaitMs(mode, deadline));
        bool handled = false;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.u64 == kWakeTag) {
                impl_->drainWake();
                continue;
            }
            const int fd = static_cast<int>(events[i].data.u64);
            handled |= impl_->dispatchFd(mode, fd, events[i].events);
            if (handled && justOne) {
                return RunResult::HandledSource;
            }
        }
        if (steadySeconds() >= deadline) {
            // Whatever became ready during the last wait still gets its turn.
            if (impl_->consumeStop()) {
                return RunResult::Stopped;
            }
            if (impl_->fireDueTimers(mode, justOne) && justOne) {
                return RunResult::HandledSource;
            }
            return RunResult::TimedOut;
        }
    }
}

void RunLoop::run() {
    while (run(kDefaultRunLoopMode, 1e10) != RunResult::Stopped) {
    }
}

void RunLoop::stop() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopRequested = true;
    }
    impl_->wake();
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds,
                       const RunLoopMode& mode, std::optional<double> recheckSeconds) {
    const double deadline = steadySeconds() + std::max(0.0, timeoutSeconds);
    for (;;) {
        if (predicate()) {
            return true;
        }
        const double left = deadline - steadySeconds();
        if (left <= 0) {
            return predicate();
        }
        // Returns after the first task, timer or source handled: the next look.
        run(mode, recheckSeconds ? std::min(left, *recheckSeconds) : left, true);
    }
}

// ---- registration handles -----------------------------------------------------

RunLoop::Registration& RunLoop::Registration::operator=(Registration&& other) noexcept {
    if (this != &other) {
        reset();
        take(other);
    }
    return *this;
}

void RunLoop::Registration::take(Registration& other) noexcept {
    loop_ = std::exchange(other.loop_, nullptr);
    id_ = std::exchange(other.id_, 0);
    kind_ = other.kind_;
}

void RunLoop::Registration::reset() {
    RunLoop* loop = std::exchange(loop_, nullptr);
    if (!loop) {
        return;
    }
    if (kind_ == Kind::Timer) {
        loop->cancelTimer(id_);
    } else {
        loop->removeSource(id_);
    }
    id_ = 0;
}

void RunLoop::Source::setEvents(uint32_t events) {
    if (loop_) {
        loop_->setSourceEvents(id_, events);
    }
}

void RunLoop::Source::setModes(std::vector<RunLoopMode> modes) {
    if (loop_) {
        loop_->setSourceModes(id_, std::move(modes));
    }
}

RunLoop::Timer RunLoop::makeTimer(double delaySeconds, double intervalSeconds,
                                  std::function<void()> fire, std::vector<RunLoopMode> modes) {
    return Timer(this, addTimer(delaySeconds, intervalSeconds, std::move(fire), std::move(modes)));
}

RunLoop::Source RunLoop::makeSource(int fd, uint32_t events, std::function<void(uint32_t)> ready,
                                    std::vector<RunLoopMode> modes) {
    return Source(this, addSource(fd, events, std::move(ready), std::move(modes)));
}

RunLoopMode RunLoop::currentMode() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->modeStack.empty() ? RunLoopMode{} : impl_->modeStack.back();
}

int RunLoop::pollDescriptor(const RunLoopMode& mode) {
    std::lock_guard lock(impl_->mutex);
    return impl_->modeSetLocked(mode).epfd;
}

std::optional<double> RunLoop::secondsUntilWork(const RunLoopMode& mode) const {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->tasks.empty() || impl_->stopRequested) {
        return 0.0;
    }
    const double now = impl_->clock->monotonic();
    for (const auto& [fireAt, id] : impl_->timerOrder) {
        if (impl_->clock->isManual() && fireAt > now) {
            break;  // advancing a manual clock wakes the descriptor
        }
        if (servesMode(impl_->timers.at(id).modes, mode)) {
            return std::max(0.0, fireAt - now);
        }
    }
    return std::nullopt;
}

// ---- blocking waits on the main thread ----

namespace {
std::mutex gWaitHookMutex;
MainThreadWait::Hook& waitHook() {
    static auto* hook = new MainThreadWait::Hook;  // read while the process exits
    return *hook;
}
}  // namespace

void MainThreadWait::setHook(Hook hook) {
    std::lock_guard lock(gWaitHookMutex);
    waitHook() = std::move(hook);
}

bool MainThreadWait::until(const std::function<bool()>& done, double timeoutSeconds,
                           double recheckSeconds) {
    const double deadline = steadySeconds() + std::max(0.0, timeoutSeconds);
    recheckSeconds = std::max(recheckSeconds, 0.001);
    while (!done()) {
        const double left = deadline - steadySeconds();
        if (left <= 0) {
            return done();
        }
        const double slice = std::min(left, recheckSeconds);
        if (!RunLoop::isMainThread()) {
            std::this_thread::sleep_for(std::chrono::duration<double>(slice));
            continue;
        }
        Hook hook;
        {
            std::lock_guard lock(gWaitHookMutex);
            hook = waitHook();
        }
        if (hook) {
            hook(slice);
        } else {
            RunLoop::main().run(kModalPanelRunLoopMode, slice, true);
        }
    }
    return true;
}

}  // namespace base
