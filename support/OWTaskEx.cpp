#include "support/OWTaskEx.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "support/OWException.h"
#include "support/OWLog.h"

using platform::system::ChildProcess;
using SteadyClock = std::chrono::steady_clock;

namespace {

// After the time-out the group gets SIGTERM; SIGKILL follows after this grace, and
// reading stops a moment later whoever still holds the pipes.
constexpr double kKillGraceSeconds = 2.0;
constexpr double kDrainAfterKillSeconds = 0.5;
constexpr size_t kReadChunk = 64 * 1024;

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

bool refuse(const std::string& path) {
    if (isExecutableFile(path))
        return false;
    OWLog::appendLogAndPrint("Error: %@ is not executable", path);
    return true;
}

// Whole seconds of a time-out: 2.9 counts as 2, anything below 1 (or not a number) as 0.
double wholeSeconds(double timeout) {
    if (!(timeout >= 1))
        return 0;
    return std::floor(std::min(timeout, 1e7));
}

SteadyClock::time_point after(double seconds) {
    return SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                    std::chrono::duration<double>(seconds));
}

int millisUntil(SteadyClock::time_point t) {
    if (t == SteadyClock::time_point::max())
        return -1;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t - SteadyClock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(ms + 1, 0, 60'000));
}

// What a call does when its deadline passes, step by step: the time-out check
// (SIGTERM), then SIGKILL, then giving up on the pipes.
class Deadline {
  public:
    Deadline(std::optional<double> seconds, std::function<void()> onTimeout, OWTaskEx::Task child)
        : next_(seconds ? after(*seconds) : SteadyClock::time_point::max()),
          onTimeout_(std::move(onTimeout)),
          child_(std::move(child)) {}
    SteadyClock::time_point next() const { return next_; }
    // Advances when the current step is due; false once the call must stop waiting.
    bool advance() {
        if (SteadyClock::now() < next_)
            return true;
        switch (step_++) {
            case 0:
                if (onTimeout_)
                    onTimeout_();
                next_ = after(kKillGraceSeconds);
                return true;
            case 1:
                child_->kill();
                next_ = after(kDrainAfterKillSeconds);
                return true;
            default:
                return false;
        }
    }

  private:
    SteadyClock::time_point next_;
    int step_ = 0;
    std::function<void()> onTimeout_;
    OWTaskEx::Task child_;
};

struct Call {
    std::function<void(const OWTaskEx::Task&)> publish;  // hands the child out before it starts
    std::optional<double> timeout;
    std::function<void()> onTimeout;  // the time-out check of the owning instance
};

Call untimed(OWTaskEx::Task* out) {
    return Call{[out](const OWTaskEx::Task& child) {
                    if (out)
                        *out = child;
                },
                std::nullopt, nullptr};
}

OWTaskEx::Task makeChild(const std::string& path, const OWTaskEx::Arguments& arguments,
                         const Call& call) {
    auto child = std::make_shared<ChildProcess>(path, arguments);
    if (call.publish)
        call.publish(child);
    return child;
}

bool isValidUtf8(const base::Data& d) {
    for (size_t i = 0; i < d.size();) {
        const uint8_t c = d[i];
        const size_t len = c < 0x80         ? 1
                           : (c >> 5) == 6  ? 2
                           : (c >> 4) == 14 ? 3
                           : (c >> 3) == 30 ? 4
                                            : 0;
        if (len == 0 || i + len > d.size())
            return false;
        uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) {
            if ((d[i + k] >> 6) != 2)
                return false;
            cp = (cp << 6) | (d[i + k] & 0x3F);
        }
        static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

std::optional<int> waitForEnd(const OWTaskEx::Task& child, const Call& call) {
    Deadline deadline(call.timeout, call.onTimeout, child);
    for (;;) {
        const auto until = deadline.next();
        const std::optional<double> slice =
            until == SteadyClock::time_point::max()
                ? std::nullopt
                : std::optional<double>(std::max(0, millisUntil(until)) / 1000.0);
        if (auto status = child->wait(slice))
            return status;
        if (!deadline.advance())
            return std::nullopt;
    }
}

bool runAndWait(const std::string& path, const OWTaskEx::Arguments& arguments, const Call& call) {
    if (refuse(path))
        return false;
    auto child = makeChild(path, arguments, call);
    if (!child->launch()) {
        OWLog::appendLog("Exception running task %@: %@", path, std::strerror(child->lastError()));
        return false;
    }
    (void)waitForEnd(child, call);
    return true;
}

int exitStatus(const std::string& path, const OWTaskEx::Arguments& arguments, const Call& call) {
    if (refuse(path))
        return -1;
    auto child = makeChild(path, arguments, call);
    if (!child->launch())
        return -1;
    return waitForEnd(child, call).value_or(-1);
}

// Reads both pipes together until both reach end of file (or the deadline gives up).
void drain(const OWTaskEx::Task& child, base::Data& out, base::Data& err, const Call& call) {
    Deadline deadline(call.timeout, call.onTimeout, child);
    std::vector<uint8_t> chunk(kReadChunk);
    for (;;) {
        pollfd fds[2];
        nfds_t n = 0;
        for (int fd : {child->standardOutputFd(), child->standardErrorFd()}) {
            if (fd >= 0)
                fds[n++] = {fd, POLLIN, 0};
        }
        if (n == 0)
            return;
        const int ready = poll(fds, n, millisUntil(deadline.next()));
        if (ready < 0 && errno != EINTR)
            return;
        for (nfds_t i = 0; ready > 0 && i < n; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const bool isOut = fds[i].fd == child->standardOutputFd();
            const ssize_t got = read(fds[i].fd, chunk.data(), chunk.size());
            if (got > 0) {
                auto& buffer = isOut ? out : err;
                buffer.insert(buffer.end(), chunk.begin(), chunk.begin() + got);
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                isOut ? child->closeStandardOutput() : child->closeStandardError();
            }
        }
        if (!deadline.advance())
            return;
    }
}

std::optional<base::Data> capture(const std::string& path, const OWTaskEx::Arguments& arguments,
                                  const std::optional<OWTaskEx::Environment>& environment,
                                  bool logOutput, bool logError, const Call& call) {
    if (refuse(path))
        return std::nullopt;
    auto child = makeChild(path, arguments, call);
    child->setEnvironment(environment);
    child->setStandardOutput(logOutput ? ChildProcess::Stream::Pipe
                                       : ChildProcess::Stream::Inherit);
    child->setStandardError(logError ? ChildProcess::Stream::Pipe : ChildProcess::Stream::Null);
    if (!child->launch()) {
        OWLog::appendLogAndPrint("Exception running task %@: %@", path,
                                 std::strerror(child->lastError()));
        return std::nullopt;
    }
    base::Data out, err;
    drain(child, out, err, call);
    child->closeStandardOutput();
    child->closeStandardError();
    if (!out.empty())
        return out;
    if (!err.empty())
        return err;
    return out;
}

}  // namespace

std::shared_ptr<OWTaskEx> OWTaskEx::create() {
    return std::shared_ptr<OWTaskEx>(new OWTaskEx);
}

// One asynchronous run: its child and the event that tells its reading thread to stop.
struct OWTaskEx::AsyncRun {
    Task task;
    int cancelFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    AsyncRun() = default;
    AsyncRun(const AsyncRun&) = delete;
    AsyncRun& operator=(const AsyncRun&) = delete;
    ~AsyncRun() {
        if (cancelFd >= 0)
            close(cancelFd);
    }
    void cancel() const {
        const uint64_t one = 1;
        (void)!write(cancelFd, &one, sizeof one);
    }
};

OWTaskEx::~OWTaskEx() = default;

// --- Untimed shapes

bool OWTaskEx::runTask(const std::string& path, const Arguments& arguments, Task* task) {
    return runAndWait(path, arguments, untimed(task));
}

void OWTaskEx::runTaskAndReturn(const std::string& path, const Arguments& arguments) {
    if (refuse(path))
        return;
    ChildProcess child(path, arguments);
    if (!child.launch()) {
        OWLog::appendLog("Exception running task %@: %@", path, std::strerror(child.lastError()));
    }
    // The child runs on; the reaper collects it when it ends.
}

int OWTaskEx::terminationCodeFromTask(const std::string& path, const Arguments& arguments,
                                      Task* task) {
    return exitStatus(path, arguments, untimed(task));
}

std::optional<base::Data> OWTaskEx::dataFromTask(const std::string& path,
                                                 const Arguments& arguments, Task* task,
                                                 const std::optional<Environment>& environment,
                                                 bool logOutput, bool logError) {
    return capture(path, arguments, environment, logOutput, logError, untimed(task));
}

namespace {

// A refused program reads as ""; output that is not valid in the encoding as none.
std::optional<std::string> decodeCapture(const std::optional<base::Data>& data,
                                         OWTaskEx::Encoding encoding) {
    if (!data)
        return std::string();
    return OWTaskEx::decode(*data, encoding);
}

}  // namespace

std::optional<std::string> OWTaskEx::stringFromTask(const std::string& path,
                                                    const Arguments& arguments, Task* task) {
    return stringFromTask(path, arguments, Encoding::ASCII, task);
}

std::optional<std::string> OWTaskEx::stringFromTask(const std::string& path,
                                                    const Arguments& arguments, Encoding encoding,
                                                    Task* task) {
    return decodeCapture(dataFromTask(path, arguments, task), encoding);
}

// --- Timed shapes

void OWTaskEx::runTask(const std::string& path, const Arguments& arguments, double timeout) {
    create()->runTaskWithTimeout(path, arguments, timeout);
}

int OWTaskEx::terminationCodeFromTask(const std::string& path, const Arguments& arguments,
                                      double timeout) {
    return create()->terminationCodeFromTaskWithTimeout(path, arguments, timeout);
}

std::optional<base::Data> OWTaskEx::dataFromTask(const std::string& path,
                                                 const Arguments& arguments, double timeout,
                                                 bool logOutput, bool logError) {
    return create()->dataFromTaskWithTimeout(path, arguments, timeout, logOutput, logError);
}

std::optional<std::string> OWTaskEx::stringFromTask(const std::string& path,
                                                    const Arguments& arguments, double timeout) {
    return stringFromTask(path, arguments, Encoding::ASCII, timeout);
}

std::optional<std::string> OWTaskEx::stringFromTask(const std::string& path,
                                                    const Arguments& arguments, Encoding encoding,
                                                    double timeout, bool logOutput, bool logError) {
    return decodeCapture(dataFromTask(path, arguments, timeout, logOutput, logError), encoding);
}

// The instance holds the child of a timed call from just before it starts until the call
// returns, so the time-out check never acts on a child the call has finished with.
namespace {
class TimedScope {
  public:
    TimedScope(OWTaskEx& self, double timeout) : self_(self) {
        self_.setTheTask(nullptr);
        call_.publish = [&self](const OWTaskEx::Task& child) { self.setTheTask(child); };
        call_.timeout = wholeSeconds(timeout);
        call_.onTimeout = [&self] { self.timeout(); };
    }
    ~TimedScope() { self_.setTheTask(nullptr); }
    TimedScope(const TimedScope&) = delete;
    TimedScope& operator=(const TimedScope&) = delete;
    const Call& call() const { return call_; }

  private:
    OWTaskEx& self_;
    Call call_;
};
}  // namespace

void OWTaskEx::runTaskWithTimeout(const std::string& path, const Arguments& arguments,
                                  double timeout) {
    TimedScope scope(*this, timeout);
    (void)runAndWait(path, arguments, scope.call());
}

int OWTaskEx::terminationCodeFromTaskWithTimeout(const std::string& path,
                                                 const Arguments& arguments, double timeout) {
    TimedScope scope(*this, timeout);
    return exitStatus(path, arguments, scope.call());
}

std::optional<base::Data> OWTaskEx::dataFromTaskWithTimeout(const std::string& path,
                                                            const Arguments& arguments,
                                                            double timeout, bool logOutput,
                                                            bool logError) {
    TimedScope scope(*this, timeout);
    return capture(path, arguments, std::nullopt, logOutput, logError, scope.call());
}

void OWTaskEx::timeout() {
    const Task child = theTask();
    if (!child)
        return;
    OWLog::appendLogAndPrint("Task %@ timed out. Terminating...", child->launchPath());
    child->terminate();
}

OWTaskEx::Task OWTaskEx::theTask() const {
    std::lock_guard lock(mutex_);
    return theTask_;
}

void OWTaskEx::setTheTask(Task task) {
    std::lock_guard lock(mutex_);
    theTask_ = std::move(task);
}

std::optional<std::string> OWTaskEx::decode(const base::Data& data, Encoding encoding) {
    switch (encoding) {
        case Encoding::ASCII:
            for (uint8_t b : data) {
                if (b > 127)
                    return std::nullopt;
            }
            return std::string(data.begin(), data.end());
        case Encoding::ISOLatin1: {
            std::string out;
            for (uint8_t b : data) {
                if (b < 0x80) {
                    out += static_cast<char>(b);
                } else {
                    out += static_cast<char>(0xC0 | (b >> 6));
                    out += static_cast<char>(0x80 | (b & 0x3F));
                }
            }
            return out;
        }
        case Encoding::UTF8:
            return isValidUtf8(data)
                       ? std::optional<std::string>(std::string(data.begin(), data.end()))
                       : std::nullopt;
    }
    return std::nullopt;
}

// --- Asynchronous run

void OWTaskEx::asyncDataFromTask(const std::string& path, const Arguments& arguments,
                                 DataHandler handler, std::shared_ptr<void> object,
                                 const std::optional<Environment>& environment) {
    auto run = std::make_shared<AsyncRun>();
    run->task = std::make_shared<ChildProcess>(path, arguments);
    run->task->setEnvironment(environment);
    run->task->setStandardOutput(ChildProcess::Stream::Pipe);
    run->task->setStandardError(ChildProcess::Stream::Null);
    {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
        object_ = std::move(object);
        run_ = run;
        theTask_ = run->task;
    }
    std::thread([self = shared_from_this(), run] { self->launchAsyncTask(run); }).detach();
}

void OWTaskEx::launchAsyncTask(const std::shared_ptr<AsyncRun>& run) {
    try {
        if (!run || !run->task) {
            OWLog::appendLogAndPrint("Unable to launch async task - no task set");
            return;
        }
        if (!isExecutableFile(run->task->launchPath()) || !run->task->launch()) {
            OWLog::appendLog(
                "Unable to launch async task - task does not exist or is not executable");
            endRun(run);
            return;
        }
        readAsyncOutput(run);
    } catch (...) {
        OWException::logException(OWException::fromCurrentException(),
                                  "-[OWTaskEx launchAsyncTask]");
    }
}

void OWTaskEx::readAsyncOutput(const std::shared_ptr<AsyncRun>& run) {
    std::vector<uint8_t> chunk(kReadChunk);
    const int fd = run->task->standardOutputFd();
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {run->cancelFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;  // terminated early: the run has already ended
        const ssize_t got = read(fd, chunk.data(), chunk.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0) {
            asyncTaskReturnData(base::Data{}, run);
            break;
        }
        asyncTaskReturnData(base::Data(chunk.begin(), chunk.begin() + got), run);
    }
    run->task->closeStandardOutput();
}

void OWTaskEx::asyncTaskReturnData(const base::Data& chunk, const std::shared_ptr<AsyncRun>& run) {
    DataHandler handler;
    std::shared_ptr<void> object;
    {
        std::lock_guard lock(mutex_);
        if (run_ != run)
            return;  // a later run replaced this one
        handler = handler_;
        object = object_;
    }
    if (handler)
        handler(chunk, *this, object);
    if (chunk.empty())
        endRun(run);
}

void OWTaskEx::endRun(const std::shared_ptr<AsyncRun>& run) {
    {
        std::lock_guard lock(mutex_);
        if (run_ != run)
            return;
    }
    terminateAsyncTask();
}

void OWTaskEx::terminateTask() {
    terminateAsyncTask();
}

void OWTaskEx::terminateAsyncTask() {
    std::shared_ptr<AsyncRun> run;
    Task task;
    DataHandler handler;
    std::shared_ptr<void> object;
    {
        std::lock_guard lock(mutex_);
        run = std::move(run_);
        task = std::move(theTask_);
        handler = std::move(handler_);  // released below, outside the lock
        object = std::move(object_);
    }
    if (run)
        run->cancel();
    if (task && task->isRunning())
        task->terminate();
}
