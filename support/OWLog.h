#pragma once
// The process-wide application log. Any thread hands it printf-style messages
// (base::format conversions, "%@" for any value); each becomes one line
// "<date> - <message>" in "<app>.1.log" in "<Logs>/Oxbury Works" (the user's, or the
// local domain's for a process running as root). Writes happen on one serial queue.
// A new log rotates five generations and writes a header; a log that has received
// 500,000 bytes starts a new one. "disable-logging" in "com.oxburyworks.global.plist"
// switches logging off. Files are 0600 in 0700 folders.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Format.h"
#include "base/NotificationCenter.h"
#include "base/OperationQueue.h"
#include "base/UniqueFd.h"

class OWLog : public std::enable_shared_from_this<OWLog> {
  public:
    static constexpr uint64_t kTruncateBytes = 500'000;
    static constexpr const char* kWillTerminateNotification =
        "NSApplicationWillTerminateNotification";

    // An open log file, positioned at its end; closed when the last holder lets go.
    class FileHandle {
      public:
        explicit FileHandle(int fd) : fd_(fd) {}
        int fd() const { return fd_.get(); }

      private:
        base::UniqueFd fd_;
    };

    // The shared instance, made on first call. After willTerminate it stays, closed.
    static std::shared_ptr<OWLog> sharedController();

    static void createNewLog();
    static void createNewLog(const std::string& name);

    template <class... Args>
    static void appendLog(std::string_view format, const Args&... args) {
        const base::FormatArg list[] = {base::FormatArg(args)..., base::FormatArg(int64_t{0})};
        log(Road::Append, format, std::span<const base::FormatArg>(list, sizeof...(Args)));
    }
    // Never waits for the queue.
    template <class... Args>
    static void fastAppendLog(std::string_view format, const Args&... args) {
        const base::FormatArg list[] = {base::FormatArg(args)..., base::FormatArg(int64_t{0})};
        log(Road::Fast, format, std::span<const base::FormatArg>(list, sizeof...(Args)));
    }
    // Logs, then prints the message on standard output.
    template <class... Args>
    static void appendLogAndPrint(std::string_view format, const Args&... args) {
        const base::FormatArg list[] = {base::FormatArg(args)..., base::FormatArg(int64_t{0})};
        log(Road::Print, format, std::span<const base::FormatArg>(list, sizeof...(Args)));
    }
    template <class... Args>
    static void appendLogAndDebugPrint(std::string_view format, const Args&... args) {
        const base::FormatArg list[] = {base::FormatArg(args)..., base::FormatArg(int64_t{0})};
        log(Road::DebugPrint, format, std::span<const base::FormatArg>(list, sizeof...(Args)));
    }
    // Does nothing.
    template <class... Args>
    static void debugPrint(std::string_view, const Args&...) {}

    // Returns once every write queued so far has run.
    static void finishWriting();
    // The existing "<app>.<n>.log" of the user's log folder, n = 1 to 5.
    static std::vector<std::string> availableLogs();
    // Doubles lone "%" signs so that text meant literally survives formatting.
    static std::string escapeTextForLogging(std::string_view text);
    // Closes the log at application termination.
    static void willTerminate(const base::Notification& notification);

    void appendTextToLog(std::string_view text);
    void appendLogOnThread(const std::string& text);

    // The application name; when unset, the file name of the executable of the bundle
    // that contains the logger (never stored back).
    std::string appName() const;
    void setAppName(std::optional<std::string> name);
    bool loggingDisabled() const { return loggingDisabled_.load(); }
    void setLoggingDisabled(bool disabled);
    std::shared_ptr<FileHandle> fileHandle() const;
    void setFileHandle(std::shared_ptr<FileHandle> handle);
    uint64_t bytesWritten() const { return bytesWritten_.load(); }
    void setBytesWritten(uint64_t bytes) { bytesWritten_.store(bytes); }
    std::shared_ptr<base::OperationQueue> writeQueue() const;
    void setWriteQueue(std::shared_ptr<base::OperationQueue> queue);
    uint64_t bytesInQueue() const { return bytesInQueue_.load(); }
    void setBytesInQueue(uint64_t bytes) { bytesInQueue_.store(bytes); }

    // Test hooks: forget the shared instance (after closing it as at termination) so the
    // next sharedController() makes a fresh one.
    static void resetForTesting();

    ~OWLog();

  private:
    enum class Road { Append, Fast, Print, DebugPrint };
    OWLog();
    static void log(Road road, std::string_view format, std::span<const base::FormatArg> args);
    static bool isQueueThread(const std::shared_ptr<base::OperationQueue>& queue);
    void startNewLog(std::optional<std::string> name);
    void writeHeader();
    void writeEntry(const std::string& text);
    std::shared_ptr<FileHandle> openCurrentLog();
    bool isWriteQueueThread() const;
    void close();

    mutable std::mutex mutex_;  // appName_, fileHandle_, writeQueue_
    std::optional<std::string> appName_;
    std::shared_ptr<FileHandle> fileHandle_;
    std::shared_ptr<base::OperationQueue> writeQueue_;
    std::atomic<uint64_t> bytesWritten_{0};
    std::atomic<uint64_t> bytesInQueue_{0};
    std::atomic<bool> loggingDisabled_{false};
    std::atomic<bool> closed_{false};  // after termination every call is without effect
    base::Observation terminateObservation_;
};
