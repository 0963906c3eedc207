#pragma once
// One child process, started with an argument vector (never a shell) in its own
// process group, with no descriptors inherited beyond its three standard streams,
// signal dispositions and mask reset to defaults. Standard input reads /dev/null
// unless asked otherwise. A child that was started is always reaped: by wait(), or
// by the process-wide reaper when the object goes away first.
#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform::system {

class ChildProcess {
  public:
    enum class Stream { Null, Inherit, Pipe };
    enum class State { Configured, Running, Exited, FailedToStart };

    ChildProcess(std::string path, std::vector<std::string> arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    const std::string& launchPath() const { return path_; }
    const std::vector<std::string>& arguments() const { return arguments_; }
    // Replaces the whole environment of the child; none keeps this process's.
    void setEnvironment(std::optional<std::map<std::string, std::string>> environment);
    void setStandardInput(Stream s) { stdin_ = s; }
    void setStandardOutput(Stream s) { stdout_ = s; }
    void setStandardError(Stream s) { stderr_ = s; }

    // Starts the child; false (with errno-style code in lastError()) when it cannot.
    bool launch();
    int lastError() const { return lastError_; }
    State state() const;
    pid_t pid() const { return pid_; }
    bool isRunning();

    // Read ends of the piped streams (-1 when not piped or closed). Owned here.
    int standardOutputFd() const { return stdoutRead_; }
    int standardErrorFd() const { return stderrRead_; }
    void closeStandardOutput();
    void closeStandardError();

    // Waits for the end (up to `timeoutSeconds` when given) and returns the exit status
    // (128 + signal number for a child killed by a signal); none when still running.
    std::optional<int> wait(std::optional<double> timeoutSeconds = std::nullopt);
    // A descriptor that becomes readable when the child ends (-1 when not started).
    int exitFd() const { return pidfd_; }

    // Sends `signal` to the child's whole process group (and to the child itself, should
    // it have left the group). Does nothing before launch.
    void signalGroup(int signal);
    void terminate();  // SIGTERM to the group
    void kill();       // SIGKILL to the group

  private:
    std::string path_;
    std::vector<std::string> arguments_;
    std::optional<std::map<std::string, std::string>> environment_;
    Stream stdin_ = Stream::Null;
    Stream stdout_ = Stream::Null;
    Stream stderr_ = Stream::Null;
    pid_t pid_ = -1;
    int pidfd_ = -1;
    int stdoutRead_ = -1;
    int stderrRead_ = -1;
    int lastError_ = 0;
    std::optional<int> exitStatus_;
    bool failed_ = false;
    mutable std::mutex mutex_;  // serialises reaping with signalling
    bool reapIfEnded();
};

}  // namespace platform::system
