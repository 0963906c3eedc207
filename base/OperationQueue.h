#pragma once
// Operations and the queues that run them on worker threads.
//
// A synchronous operation is finished when main() returns. An asynchronous one
// (isAsynchronous() true) is started by start() and holds its queue slot until it
// calls finish(). A queue starts the ready operations of highest priority first,
// in the order they were added, at most maxConcurrent at a time; suspending it
// never stops a running operation.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace base {

class OperationQueue;

class Operation : public std::enable_shared_from_this<Operation> {
public:
    enum class Priority { VeryLow = -8, Low = -4, Normal = 0, High = 4, VeryHigh = 8 };
    enum class State { Pending, Executing, Finished };

    Operation() = default;
    virtual ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Called by the queue on a worker thread. The default runs main() unless
    // cancelled and then finishes; asynchronous operations override it.
    virtual void start();
    virtual void main() {}
    virtual bool isAsynchronous() const { return false; }

    // Marks the operation cancelled; what that means is up to the operation. A pending
    // operation that is cancelled still starts (so it can finish at once).
    virtual void cancel();
    bool isCancelled() const;
    bool isExecuting() const;
    bool isFinished() const;
    State state() const;

    // Dependencies must finish (or be cancelled and finish) before this is ready.
    void addDependency(const std::shared_ptr<Operation>& op);
    bool isReady() const;
    void setPriority(Priority p);
    Priority priority() const;
    // Runs on the thread that finishes the operation, after it is marked finished.
    void setCompletion(std::function<void()> block);
    // Blocks until finished; not on the thread that must finish it.
    void waitUntilFinished();

protected:
    // For asynchronous operations: move to Executing when start() begins work ...
    void markExecuting();
    // ... and to Finished when done. Idempotent.
    void finish();

private:
    friend class OperationQueue;
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    State state_ = State::Pending;
    bool cancelled_ = false;
    Priority priority_ = Priority::Normal;
    std::vector<std::weak_ptr<Operation>> dependencies_;
    std::vector<std::function<void()>> finishObservers_;  // used by queues
    std::function<void()> completion_;
    bool enqueued_ = false;                   // an operation runs in one queue, once
    bool finishDelivered_ = false;            // completion and finish observers have run
    std::function<void()> readinessChanged_;  // set by the queue that holds it
    void addFinishObserver(std::function<void()> f);
};

class BlockOperation : public Operation {
public:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
    void main() override {
        if (block_) block_();
    }

private:
    std::function<void()> block_;
};

class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
public:
    static constexpr int kDefaultMaxConcurrent = -1;  // one per hardware thread

    // Serial when maxConcurrent is 1. Created suspended when asked.
    static std::shared_ptr<OperationQueue> create(std::string name, int maxConcurrent = 1,
                                                  bool suspended = false);
    ~OperationQueue();

    void addOperation(std::shared_ptr<Operation> op);
    void addOperation(std::function<void()> block);

    void setSuspended(bool suspended);
    bool isSuspended() const;
    void setMaxConcurrentOperationCount(int n);
    int maxConcurrentOperationCount() const;

    // Cancels every operation in the queue, pending and running.
    void cancelAllOperations();
    // Operations added and not yet finished.
    size_t operationCount() const;
    std::vector<std::shared_ptr<Operation>> operations() const;
    // Called with the new count on the thread where the count changed.
    void setCountObserver(std::function<void(size_t)> observer);
    // Blocks until the queue is empty; not from one of its own operations.
    void waitUntilAllOperationsAreFinished();

    const std::string& name() const { return name_; }
    // The queue running the calling thread's current operation, or none.
    static std::shared_ptr<OperationQueue> current();

private:
    OperationQueue(std::string name, int maxConcurrent, bool suspended);
    struct Impl;
    std::string name_;
    std::shared_ptr<Impl> impl_;
};

}  // namespace base
