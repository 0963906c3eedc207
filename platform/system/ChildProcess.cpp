#include "platform/system/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>
// This C library release declares the pidfd calls without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}

#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

extern char** environ;

namespace platform::system {
namespace {

int decodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// Reaps children whose objects went away before they ended, so none is left a zombie.
// One thread for the process, woken through an eventfd when a child is handed over.
class Reaper {
  public:
    static Reaper& shared() {
        static Reaper* reaper = new Reaper;  // lives as long as the process
        return *reaper;
    }
    void adopt(pid_t pid, int pidfd) {
        {
            std::lock_guard lock(mutex_);
            children_.push_back({pid, pidfd});
        }
        const uint64_t one = 1;
        (void)!write(wake_, &one, sizeof one);
    }

  private:
    struct Orphan {
        pid_t pid;
        int pidfd;
    };
    Reaper() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        std::thread([this] { loop(); }).detach();
    }
    void loop() {
        for (;;) {
            std::vector<pollfd> fds{{wake_, POLLIN, 0}};
            bool anyWithoutPidfd = false;
            {
                std::lock_guard lock(mutex_);
                for (const auto& c : children_) {
                    if (c.pidfd >= 0)
                        fds.push_back({c.pidfd, POLLIN, 0});
                    anyWithoutPidfd = anyWithoutPidfd || c.pidfd < 0;
                }
            }
            (void)poll(fds.data(), fds.size(), anyWithoutPidfd ? 100 : -1);
            uint64_t drained = 0;
            (void)!read(wake_, &drained, sizeof drained);
            reapEnded();
        }
    }
    void reapEnded() {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < children_.size();) {
            int status = 0;
            const pid_t r = waitpid(children_[i].pid, &status, WNOHANG);
            if (r == children_[i].pid || (r < 0 && errno == ECHILD)) {
                if (children_[i].pidfd >= 0)
                    close(children_[i].pidfd);
                children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
    }
    std::mutex mutex_;
    std::vector<Orphan> children_;
    int wake_;
};

class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
};

void closeFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(std::string path, std::vector<std::string> arguments)
    : path_(std::move(path)), arguments_(std::move(arguments)) {}

ChildProcess::~ChildProcess() {
    closeFd(stdoutRead_);
    closeFd(stderrRead_);
    std::lock_guard lock(mutex_);
    if (pid_ > 0 && !exitStatus_) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            closeFd(pidfd_);
            return;
        }
        Reaper::shared().adopt(pid_, pidfd_);
        pidfd_ = -1;
    }
    closeFd(pidfd_);
}

void ChildProcess::setEnvironment(std::optional<std::map<std::string, std::string>> environment) {
    environment_ = std::move(environment);
}

bool ChildProcess::launch() {
    std::lock_guard lock(mutex_);
    if (pid_ > 0 || failed_) {
        lastError_ = EALREADY;
        return false;
    }
    std::vector<char*> argv;
    argv.push_back(path_.data());
    for (auto& a : arguments_) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    std::vector<char*> envp;
    if (environment_) {
        for (const auto& [k, v] : *environment_) envStrings.push_back(k + "=" + v);
        for (auto& e : envStrings) envp.push_back(e.data());
        envp.push_back(nullptr);
    }

    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if ((stdout_ == Stream::Pipe && pipe2(outPipe, O_CLOEXEC) != 0) ||
        (stderr_ == Stream::Pipe && pipe2(errPipe, O_CLOEXEC) != 0)) {
        lastError_ = errno;
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
            if (fd >= 0)
                close(fd);
        }
        failed_ = true;
        return false;
    }

    SpawnSetup setup;
    auto direct = [&](Stream s, int target, int pipeWrite, int openFlags) {
        if (s == Stream::Null) {
            posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null", openFlags, 0);
        } else if (s == Stream::Pipe && pipeWrite >= 0) {
            posix_spawn_file_actions_adddup2(&setup.actions, pipeWrite, target);
        }
    };
    // Standard input never comes from us: a child that reads it sees end of file at once.
    direct(stdin_ == Stream::Inherit ? Stream::Inherit : Stream::Null, 0, -1, O_RDONLY);
    direct(stdout_, 1, outPipe[1], O_WRONLY);
    direct(stderr_, 2, errPipe[1], O_WRONLY);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&setup.attr, &all);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setpgroup(&setup.attr, 0);
    posix_spawnattr_setflags(
        &setup.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, path_.c_str(), &setup.actions, &setup.attr, argv.data(),
                               environment_ ? envp.data() : environ);
    if (outPipe[1] >= 0)
        close(outPipe[1]);
    if (errPipe[1] >= 0)
        close(errPipe[1]);
    if (rc != 0) {
        lastError_ = rc;
        failed_ = true;
        if (outPipe[0] >= 0)
            close(outPipe[0]);
        if (errPipe[0] >= 0)
            close(errPipe[0]);
        return false;
    }
    pid_ = pid;
    pidfd_ = pidfd_open(pid, 0);  // -1 on kernels without pidfds: we then poll waitpid
    stdoutRead_ = outPipe[0];
    stderrRead_ = errPipe[0];
    return true;
}

ChildProcess::State ChildProcess::state() const {
    std::lock_guard lock(mutex_);
    if (failed_)
        return State::FailedToStart;
    if (pid_ <= 0)
        return State::Configured;
    return exitStatus_ ? State::Exited : State::Running;
}

bool ChildProcess::reapIfEnded() {
    if (exitStatus_)
        return true;
    if (pid_ <= 0)
        return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        exitStatus_ = decodeStatus(status);
    } else if (r < 0 && errno == ECHILD) {
        exitStatus_ = -1;  // somebody else reaped it
    }
    if (exitStatus_)
        closeFd(pidfd_);
    return exitStatus_.has_value();
}

bool ChildProcess::isRunning() {
    std::lock_guard lock(mutex_);
    return pid_ > 0 && !reapIfEnded();
}

std::optional<int> ChildProcess::wait(std::optional<double> timeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        timeoutSeconds
            ? Clock::now() +
                  std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(std::max(0.0, std::min(*timeoutSeconds, 1e7))))
            : Clock::time_point::max();
    for (;;) {
        int fd = -1;
        {
            std::lock_guard lock(mutex_);
            if (pid_ <= 0)
                return std::nullopt;
            if (reapIfEnded())
                return exitStatus_;
            fd = pidfd_;
        }
        const auto now = Clock::now();
        if (now >= deadline)
            return std::nullopt;
        int waitMs = 10;  // without a pidfd we poll waitpid
        if (fd >= 0) {
            waitMs = deadline == Clock::time_point::max()
                         ? 1000
                         : static_cast<int>(std::min<int64_t>(
                               1000,
                               std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)
                                       .count() +
                                   1));
            pollfd p{fd, POLLIN, 0};
            (void)poll(&p, 1, waitMs);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        }
    }
}

void ChildProcess::closeStandardOutput() {
    closeFd(stdoutRead_);
}
void ChildProcess::closeStandardError() {
    closeFd(stderrRead_);
}

void ChildProcess::signalGroup(int signal) {
    std::lock_guard lock(mutex_);
    if (pid_ <= 0)
        return;
    // The group outlives its leader while a grandchild holds on, and its id cannot be
    // reused while any member lives, so signalling it after the leader ended is safe.
    ::kill(-pid_, signal);
    if (!reapIfEnded() && pidfd_ >= 0)
        pidfd_send_signal(pidfd_, signal, nullptr, 0);
}

void ChildProcess::terminate() {
    signalGroup(SIGTERM);
}
void ChildProcess::kill() {
    signalGroup(SIGKILL);
}

}  // namespace platform::system
