#pragma once
// Runs other programs: wait for the end, return the exit status, collect the output as
// bytes or text, or deliver the output chunk by chunk from a background thread. Every
// refusal and failure is logged and reported as a plain value (false, -1, none, "").
// The text shapes give "" when the program was refused and none when its output is not
// valid in the encoding.
//
// The program is exec'd directly with `arguments` as its argument vector (argv[0] is
// the program path); no shell ever sees them, so callers put "--" before operands that
// are paths. Children start in their own process group with no inherited descriptors
// and standard input at end of file, and are always reaped. A program is refused when
// its path is not an executable regular file (a folder such as an application bundle
// is refused even though it is searchable).
//
// Time-outs count whole seconds (2.9 counts as 2). When one passes, "Task %@ timed out.
// Terminating..." is logged and printed, the child's process group receives SIGTERM and,
// after a short grace, SIGKILL; the call stops reading then and returns what it had read.
// A call whose child ends earlier returns at once.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Value.h"
#include "platform/system/ChildProcess.h"

class OWTaskEx : public std::enable_shared_from_this<OWTaskEx> {
  public:
    using Task = std::shared_ptr<platform::system::ChildProcess>;
    using Arguments = std::vector<std::string>;
    using Environment = std::map<std::string, std::string>;
    // Output that is not valid in the encoding decodes to none.
    enum class Encoding { ASCII, UTF8, ISOLatin1 };
    // Receives each chunk of asynchronous output, this task, and the run's object (null
    // when none was given). An empty function means nobody answers.
    using DataHandler = std::function<void(const base::Data& chunk, OWTaskEx& task,
                                           const std::shared_ptr<void>& object)>;

    static std::shared_ptr<OWTaskEx> create();
    ~OWTaskEx();

    // --- Untimed shapes. `task`, when given, receives the child before it starts.
    // True when the child started and ended, whatever its exit status.
    static bool runTask(const std::string& path, const Arguments& arguments, Task* task = nullptr);
    // Starts the child and does not wait (it is still reaped when it ends).
    static void runTaskAndReturn(const std::string& path, const Arguments& arguments);
    // The exit status; -1 when refused or when it cannot start.
    static int terminationCodeFromTask(const std::string& path, const Arguments& arguments,
                                       Task* task = nullptr);
    // Output when there is any, else the error output, else empty bytes; none when refused.
    static std::optional<base::Data> dataFromTask(
        const std::string& path, const Arguments& arguments, Task* task,
        const std::optional<Environment>& environment = std::nullopt, bool logOutput = true,
        bool logError = true);
    static std::optional<std::string> stringFromTask(const std::string& path,
                                                     const Arguments& arguments,
                                                     Task* task = nullptr);
    static std::optional<std::string> stringFromTask(const std::string& path,
                                                     const Arguments& arguments, Encoding encoding,
                                                     Task* task = nullptr);

    // --- Timed shapes (class forms make a fresh instance and use it).
    static void runTask(const std::string& path, const Arguments& arguments, double timeout);
    static int terminationCodeFromTask(const std::string& path, const Arguments& arguments,
                                       double timeout);
    static std::optional<base::Data> dataFromTask(const std::string& path,
                                                  const Arguments& arguments, double timeout,
                                                  bool logOutput = true, bool logError = true);
    static std::optional<std::string> stringFromTask(const std::string& path,
                                                     const Arguments& arguments, double timeout);
    static std::optional<std::string> stringFromTask(const std::string& path,
                                                     const Arguments& arguments, Encoding encoding,
                                                     double timeout, bool logOutput = true,
                                                     bool logError = true);

    // Instance forms of the timed shapes: the instance holds the child (theTask) while the
    // call runs.
    void runTaskWithTimeout(const std::string& path, const Arguments& arguments, double timeout);
    int terminationCodeFromTaskWithTimeout(const std::string& path, const Arguments& arguments,
                                           double timeout);
    std::optional<base::Data> dataFromTaskWithTimeout(const std::string& path,
                                                      const Arguments& arguments, double timeout,
                                                      bool logOutput = true, bool logError = true);
    // The time-out check: terminates the running child, logging that it timed out.
    void timeout();

    // --- Asynchronous run: output chunks go to `handler` on a background thread, in
    // order, ending with exactly one empty chunk. The handler (and whatever it holds)
    // and `object` are kept until the run ends.
    void asyncDataFromTask(const std::string& path, const Arguments& arguments, DataHandler handler,
                           std::shared_ptr<void> object = nullptr,
                           const std::optional<Environment>& environment = std::nullopt);
    void terminateTask();
    void terminateAsyncTask();

    Task theTask() const;
    void setTheTask(Task task);

    // Decodes bytes; none when they are not valid in the encoding.
    static std::optional<std::string> decode(const base::Data& data, Encoding encoding);

  private:
    struct AsyncRun;
    OWTaskEx() = default;
    void launchAsyncTask(const std::shared_ptr<AsyncRun>& run);
    void readAsyncOutput(const std::shared_ptr<AsyncRun>& run);
    void asyncTaskReturnData(const base::Data& chunk, const std::shared_ptr<AsyncRun>& run);
    void endRun(const std::shared_ptr<AsyncRun>& run);

    mutable std::mutex mutex_;
    Task theTask_;
    DataHandler handler_;
    std::shared_ptr<void> object_;
    std::shared_ptr<AsyncRun> run_;
};
