#include "base/OperationQueue.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace base {

namespace {

void reportException(const char* where) {
    try {
        throw;
    } catch (const std::exception& e) {
        (void)std::fprintf(stderr, "operation queue: uncaught exception in %s: %s\n", where,
                           e.what());
    } catch (...) {
        (void)std::fprintf(stderr, "operation queue: uncaught exception in %s\n", where);
    }
}

int resolveMaxConcurrent(int n) {
    if (n > 0) {
        return n;
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? static_cast<int>(hardware) : 1;
}

thread_local std::weak_ptr<OperationQueue> tCurrentQueue;

}  // namespace

// ---- Operation ----

Operation::~Operation() = default;

void Operation::start() {
    if (state() != State::Pending) {
        return;  // an operation runs once
    }
    if (isCancelled()) {
        finish();
        return;
    }
    markExecuting();
    main();
    finish();
}

void Operation::cancel() {
    std::function<void()> readinessChanged;
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        readinessChanged = readinessChanged_;
    }
    // A cancelled operation is ready at once, whatever it waits for.
    if (readinessChanged) {
        readinessChanged();
    }
}

bool Operation::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool Operation::isExecuting() const {
    return state() == State::Executing;
}
bool Operation::isFinished() const {
    return state() == State::Finished;
}

Operation::State Operation::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void Operation::addDependency(const std::shared_ptr<Operation>& op) {
    if (!op || op.get() == this) {
        return;
    }
    std::function<void()> readinessChanged;
    {
        std::lock_guard lock(mutex_);
        dependencies_.push_back(op);
        readinessChanged = readinessChanged_;
    }
    // Already queued: the queue must hear when this new dependency finishes.
    if (readinessChanged) {
        op->addFinishObserver(std::move(readinessChanged));
    }
}

bool Operation::isReady() const {
    std::vector<std::weak_ptr<Operation>> dependencies;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) {
            return true;
        }
        dependencies = dependencies_;
    }
    // Checked without our own lock held, so dependency cycles cannot deadlock.
    // A dependency nobody holds any more can never finish and no longer blocks.
    return std::all_of(dependencies.begin(), dependencies.end(), [](const auto& weak) {
        auto dependency = weak.lock();
        return !dependency || dependency->isFinished();
    });
}

void Operation::setPriority(Priority p) {
    std::lock_guard lock(mutex_);
    priority_ = p;
}

Operation::Priority Operation::priority() const {
    std::lock_guard lock(mutex_);
    return priority_;
}

void Operation::setCompletion(std::function<void()> block) {
    std::lock_guard lock(mutex_);
    completion_ = std::move(block);
}

void Operation::waitUntilFinished() {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return finishDelivered_; });
}

void Operation::markExecuting() {
    std::lock_guard lock(mutex_);
    if (state_ == State::Pending) {
        state_ = State::Executing;
    }
}

void Operation::finish() {
    // Waiters may drop the last reference as soon as they wake.
    const auto keepAlive = weak_from_this().lock();
    std::function<void()> completion;
    std::vector<std::function<void()>> observers;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::Finished) {
            return;
        }
        state_ = State::Finished;
        completion = std::move(completion_);
        observers = std::move(finishObservers_);
        readinessChanged_ = nullptr;
    }
    if (completion) {
        try {
            completion();
        } catch (...) {
            reportException("a completion block");
        }
    }
    for (auto& observer : observers) {
        observer();
    }
    std::lock_guard lock(mutex_);
    finishDelivered_ = true;
    finished_.notify_all();
}

void Operation::addFinishObserver(std::function<void()> f) {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Finished) {
            finishObservers_.push_back(std::move(f));
            return;
        }
    }
    f();
}

// ---- OperationQueue ----

struct OperationQueue::Impl : std::enable_shared_from_this<OperationQueue::Impl> {
    std::mutex mutex;
    std::condition_variable workAvailable;
    std::condition_variable allFinished;
    std::weak_ptr<OperationQueue> owner;
    int maxConcurrent = 1;
    bool suspended = false;
    bool shuttingDown = false;
    std::vector<std::shared_ptr<Operation>> pending;  // in the order added
    std::vector<std::shared_ptr<Operation>> active;   // added and not finished
    std::unordered_set<const Operation*> started;     // holding a slot
    size_t idleWorkers = 0;                           // waiting for work, or about to
    std::vector<std::thread> workers;
    std::function<void(size_t)> countObserver;
    size_t countReportsInFlight = 0;  // waiting for all to finish waits for these too

    std::shared_ptr<Operation> takeReadyLocked();
    void startWorkersLocked();
    void operationFinished(const Operation* op);
    // Takes the observer and counts the report as in flight; call with the lock held.
    std::function<void(size_t)> beginCountReportLocked();
    void deliverCount(size_t count, const std::function<void(size_t)>& observer);
    static void workerMain(std::shared_ptr<Impl> self);
    void runOperation(const std::shared_ptr<Operation>& op);
};

// The ready operation of highest priority, the earliest added among equals.
std::shared_ptr<Operation> OperationQueue::Impl::takeReadyLocked() {
    if (suspended || shuttingDown || started.size() >= static_cast<size_t>(maxConcurrent)) {
        return nullptr;
    }
    auto best = pending.end();
    Operation::Priority bestPriority{};
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (!(*it)->isReady()) {
            continue;
        }
        const auto priority = (*it)->priority();
        if (best == pending.end() || priority > bestPriority) {
            best = it;
            bestPriority = priority;
        }
    }
    if (best == pending.end()) {
        return nullptr;
    }
    auto op = std::move(*best);
    pending.erase(best);
    started.insert(op.get());
    return op;
}

// Threads are made only when ready work would otherwise wait for one.
void OperationQueue::Impl::startWorkersLocked() {
    if (suspended || shuttingDown) {
        return;
    }
    const size_t limit = static_cast<size_t>(maxConcurrent);
    const size_t freeSlots = limit > started.size() ? limit - started.size() : 0;
    size_t ready = 0;
    for (const auto& op : pending) {
        if (ready >= freeSlots) {
            break;
        }
        if (op->isReady()) {
            ++ready;
        }
    }
    while (idleWorkers < ready && workers.size() < limit) {
        ++idleWorkers;
        try {
            workers.emplace_back(&Impl::workerMain, shared_from_this());
        } catch (const std::system_error&) {
            // Out of threads: the workers we have take the work as they free up.
            --idleWorkers;
            break;
        }
    }
    workAvailable.notify_all();
}

void OperationQueue::Impl::workerMain(std::shared_ptr<Impl> self) {
    std::unique_lock lock(self->mutex);
    for (;;) {
        std::shared_ptr<Operation> op;
        self->workAvailable.wait(lock, [&] {
            if (self->shuttingDown) {
                return true;
            }
            op = self->takeReadyLocked();
            return op != nullptr;
        });
        if (!op) {
            break;
        }
        --self->idleWorkers;
        lock.unlock();
        self->runOperation(op);
        op.reset();  // user destructors run without our lock
        lock.lock();
        ++self->idleWorkers;
    }
    --self->idleWorkers;
}

void OperationQueue::Impl::runOperation(const std::shared_ptr<Operation>& op) {
    tCurrentQueue = owner;
    bool threw = false;
    try {
        op->start();
    } catch (...) {
        reportException("an operation");
        threw = true;
    }
    tCurrentQueue.reset();
    // A synchronous operation is done when start() returns; one that threw will never
    // finish by itself and would hold its slot for ever.
    if (threw || !op->isAsynchronous()) {
        op->finish();
    }
}

void OperationQueue::Impl::operationFinished(const Operation* op) {
    size_t count;
    std::function<void(size_t)> observer;
    {
        std::lock_guard lock(mutex);
        auto isOp = [op](const auto& p) { return p.get() == op; };
        pending.erase(std::remove_if(pending.begin(), pending.end(), isOp), pending.end());
        auto it = std::find_if(active.begin(), active.end(), isOp);
        if (it == active.end()) {
            return;
        }
        active.erase(it);
        started.erase(op);
        count = active.size();
        observer = beginCountReportLocked();
        startWorkersLocked();
        if (active.empty()) {
            allFinished.notify_all();
        }
    }
    deliverCount(count, observer);
}

std::function<void(size_t)> OperationQueue::Impl::beginCountReportLocked() {
    if (countObserver) {
        ++countReportsInFlight;
    }
    return countObserver;
}

void OperationQueue::Impl::deliverCount(size_t count, const std::function<void(size_t)>& observer) {
    if (!observer) {
        return;
    }
    try {
        observer(count);
    } catch (...) {
        reportException("the count observer");
    }
    std::lock_guard lock(mutex);
    if (--countReportsInFlight == 0 && active.empty()) {
        allFinished.notify_all();
    }
}

std::shared_ptr<OperationQueue> OperationQueue::create(std::string name, int maxConcurrent,
                                                       bool suspended) {
    std::shared_ptr<OperationQueue> queue(
        new OperationQueue(std::move(name), maxConcurrent, suspended));
    queue->impl_->owner = queue;
    return queue;
}

OperationQueue::OperationQueue(std::string name, int maxConcurrent, bool suspended)
    : name_(std::move(name)), impl_(std::make_shared<Impl>()) {
    impl_->maxConcurrent = resolveMaxConcurrent(maxConcurrent);
    impl_->suspended = suspended;
}

// Running operations are cancelled and synchronous ones waited for; operations that
// never started are cancelled and finished without starting, so nobody waits on them
// for ever. Asynchronous operations already started finish on their own later.
OperationQueue::~OperationQueue() {
    std::vector<std::shared_ptr<Operation>> active;
    std::vector<std::shared_ptr<Operation>> neverStarted;
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->shuttingDown = true;
        impl_->countObserver = nullptr;
        active = impl_->active;
        neverStarted = std::move(impl_->pending);
        impl_->pending.clear();
        workers = std::move(impl_->workers);
    }
    impl_->workAvailable.notify_all();
    for (auto& op : active) {
        op->cancel();
    }
    for (auto& op : neverStarted) {
        op->finish();
    }
    for (auto& worker : workers) {
        // The last reference may go inside one of our own operations.
        if (worker.get_id() == std::this_thread::get_id()) {
            worker.detach();
        } else {
            worker.join();
        }
    }
}

void OperationQueue::addOperation(std::shared_ptr<Operation> op) {
    if (!op) {
        return;
    }
    // Called when the operation is cancelled or one of its dependencies finishes.
    std::function<void()> readinessChanged = [weak = std::weak_ptr<Impl>(impl_)] {
        if (auto impl = weak.lock()) {
            std::lock_guard lock(impl->mutex);
            impl->startWorkersLocked();
        }
    };
    {
        std::lock_guard lock(op->mutex_);
        // An operation runs once, in one queue.
        if (op->enqueued_ || op->state_ != Operation::State::Pending) {
            return;
        }
        op->enqueued_ = true;
        op->readinessChanged_ = readinessChanged;
    }
    size_t count;
    std::function<void(size_t)> observer;
    std::vector<std::shared_ptr<Operation>> dependencies;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->pending.push_back(op);
        impl_->active.push_back(op);
        count = impl_->active.size();
        observer = impl_->beginCountReportLocked();
    }
    impl_->deliverCount(count, observer);
    {
        std::lock_guard lock(op->mutex_);
        for (const auto& weak : op->dependencies_) {
            if (auto dependency = weak.lock()) {
                dependencies.push_back(std::move(dependency));
            }
        }
    }
    for (const auto& dependency : dependencies) {
        dependency->addFinishObserver(readinessChanged);
    }
    std::weak_ptr<Impl> weak = impl_;
    // Registered last: an operation that finishes before it starts (cancelled by its
    // own rules) is then taken out of the queue at once.
    op->addFinishObserver([weak, raw = op.get()] {
        if (auto impl = weak.lock()) {
            impl->operationFinished(raw);
        }
    });
    std::lock_guard lock(impl_->mutex);
    impl_->startWorkersLocked();
}

void OperationQueue::addOperation(std::function<void()> block) {
    addOperation(std::make_shared<BlockOperation>(std::move(block)));
}

void OperationQueue::setSuspended(bool suspended) {
    std::lock_guard lock(impl_->mutex);
    impl_->suspended = suspended;
    impl_->startWorkersLocked();
}

bool OperationQueue::isSuspended() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->suspended;
}

void OperationQueue::setMaxConcurrentOperationCount(int n) {
    std::lock_guard lock(impl_->mutex);
    impl_->maxConcurrent = resolveMaxConcurrent(n);
    impl_->startWorkersLocked();
}

int OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->maxConcurrent;
}

void OperationQueue::cancelAllOperations() {
    std::vector<std::shared_ptr<Operation>> waiting, all;
    {
        std::lock_guard lock(impl_->mutex);
        waiting = impl_->pending;
        all = impl_->active;
    }
    // Waiting ones first: a running one that ends on cancellation frees its slot, and
    // the next waiting one must already be cancelled when it starts there.
    for (const auto& op : waiting) {
        op->cancel();
    }
    for (const auto& op : all) {
        op->cancel();
    }
}

size_t OperationQueue::operationCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->active.size();
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->active;
}

void OperationQueue::setCountObserver(std::function<void(size_t)> observer) {
    std::lock_guard lock(impl_->mutex);
    impl_->countObserver = std::move(observer);
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    // From one of our own operations this could never return; the caller gets back
    // control instead of a hang.
    if (current().get() == this) {
        return;
    }
    std::unique_lock lock(impl_->mutex);
    // Also waits for the count observer to have heard the last change.
    impl_->allFinished.wait(
        lock, [this] { return impl_->active.empty() && impl_->countReportsInFlight == 0; });
}

std::shared_ptr<OperationQueue> OperationQueue::current() {
    return tCurrentQueue.lock();
}

}  // namespace base
