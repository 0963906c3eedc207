#include "support/OWLog.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

#include "base/PropertyList.h"
#include "base/RunLoop.h"
#include "base/UniqueFd.h"
#include "platform/system/ConsoleUser.h"
#include "support/OWException.h"
#include "support/OWLocalPaths.h"

namespace {

constexpr const char* kLogFolder = "Oxbury Works";
constexpr const char* kGlobalPrefs = "com.oxburyworks.global.plist";
constexpr size_t kFlushLimit = 99;  // short messages from background threads wait below this

std::mutex gSharedMutex;
std::shared_ptr<OWLog> gShared;
std::mutex gNewLogMutex;  // one start of a new log at a time
std::terminate_handler gPreviousTerminate = nullptr;

void printOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool isSpaceOrNewline(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string trimmed(std::string_view s) {
    while (!s.empty() && isSpaceOrNewline(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpaceOrNewline(s.back())) s.remove_suffix(1);
    return std::string(s);
}

// Length in UTF-16 code units, the unit the queue accounting counts in.
uint64_t utf16Length(std::string_view s) {
    uint64_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80)
            n += (c >= 0xF0) ? 2 : 1;
    }
    return n;
}

std::string dateText() {
    const time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    char buf[64];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return buf;
}

std::string replaceAll(std::string s, std::string_view from, std::string_view to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
        s.replace(at, from.size(), to);
    }
    return s;
}

// The file that holds this code: the program, or the plug-in inside a host.
std::string containingBinary() {
    Dl_info info{};
    char resolved[PATH_MAX];
    if (dladdr(reinterpret_cast<void*>(&containingBinary), &info) && info.dli_fname &&
        std::strstr(info.dli_fname, ".so") && realpath(info.dli_fname, resolved)) {
        return resolved;
    }
    const ssize_t n = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
    return n > 0 ? std::string(resolved, static_cast<size_t>(n)) : std::string();
}

std::string fileStem(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

// The Contents folder of the bundle around the binary (Name.app/Contents/MacOS/<exe>);
// none for a program that lives outside a bundle.
std::optional<std::string> bundleContents(const std::string& binary) {
    const size_t slash = binary.find_last_of('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const std::string macos = binary.substr(0, slash);
    constexpr std::string_view kTail = "/Contents/MacOS";
    if (macos.size() <= kTail.size() || !macos.ends_with(kTail))
        return std::nullopt;
    return macos.substr(0, macos.size() - 6);
}

// "CFBundleVersion" of the bundle around the binary.
std::optional<std::string> bundleVersion(const std::string& binary) {
    const auto contents = bundleContents(binary);
    if (!contents)
        return std::nullopt;
    const auto info = base::PropertyList::readFile(*contents + "/Info.plist");
    const base::Value& version = info ? (*info)["CFBundleVersion"] : base::Value::null();
    if (!version.isString())
        return std::nullopt;
    return *version.string();
}

// "disable-logging" in the maker-wide preferences: the text "1", or true (a boolean
// true or the number 1). Texts such as "YES" leave logging on.
bool loggingSwitchedOff() {
    const auto prefs = OWLocalPaths::prefsDirectory(true);
    if (!prefs)
        return false;
    const auto root = base::PropertyList::readFile(*prefs + "/" + kGlobalPrefs);
    if (!root)
        return false;
    const base::Value& value = (*root)["disable-logging"];
    if (value.isString())
        return *value.string() == "1";
    if (value.isBool() || value.isNumber())
        return value.decimal() == base::Decimal(1);
    return false;
}

std::string logFolder(bool forRoot) {
    const auto logs = OWLocalPaths::logDirectory(!forRoot);
    return logs.value_or("/var/log") + "/" + kLogFolder;
}

std::string currentLogFolder() {
    return logFolder(platform::system::ConsoleUser::isRoot());
}

std::string generationPath(const std::string& folder, const std::string& app, long n) {
    return folder + "/" + app + "." + std::to_string(n) + ".log";
}

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// mkdir -p; the folders made here are private to the user.
bool makeFolders(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash))) {
        return false;
    }
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// Replaces the file with an empty one atomically (a fresh 0600 file renamed over it).
std::optional<std::string> writeEmptyFile(const std::string& path) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return std::string(std::strerror(errno));
    fchmod(fd, 0600);
    const bool synced = fsync(fd) == 0;
    close(fd);
    if (!synced || rename(temp.c_str(), path.c_str()) != 0) {
        const std::string error = std::strerror(errno);
        unlink(temp.c_str());
        return error;
    }
    return std::nullopt;
}

std::string systemLine() {
    utsname u{};
    const std::string release = uname(&u) == 0 ? u.release : "unknown";
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    const double bytes =
        static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
    return base::format("System: Linux %@, %li CPU(s), %0.2f GB RAM", release, cpus,
                        bytes / 1024.0 / 1024.0 / 1024.0);
}

void uncaughtExceptionHandler() {
    if (std::current_exception()) {
        const OWException e = OWException::fromCurrentException();
        OWLog::appendLogAndPrint("%@", e.reason());
        OWLog::finishWriting();
    }
    // Whatever handled termination before us still gets its turn.
    if (gPreviousTerminate)
        gPreviousTerminate();
    std::abort();
}

}  // namespace

OWLog::OWLog() : writeQueue_(base::OperationQueue::create("OWLog write queue", 1)) {}

OWLog::~OWLog() {
    close();
}

std::shared_ptr<OWLog> OWLog::sharedController() {
    std::lock_guard lock(gSharedMutex);
    if (gShared)
        return gShared;
    gShared = std::shared_ptr<OWLog>(new OWLog);
    auto& center = base::NotificationCenter::defaultCenter();
    gShared->terminateObservation_ = base::Observation(
        center, center.addObserver(kWillTerminateNotification, &OWLog::willTerminate));
    static std::once_flag hook;
    std::call_once(hook, [] { gPreviousTerminate = std::set_terminate(uncaughtExceptionHandler); });
    return gShared;
}

void OWLog::resetForTesting() {
    std::shared_ptr<OWLog> old;
    {
        std::lock_guard lock(gSharedMutex);
        old = std::move(gShared);
    }
    if (old)
        old->close();
}

void OWLog::createNewLog() {
    if (auto log = sharedController())
        log->startNewLog(std::nullopt);
}

void OWLog::createNewLog(const std::string& name) {
    if (auto log = sharedController())
        log->startNewLog(name);
}

void OWLog::startNewLog(std::optional<std::string> name) {
    std::lock_guard lock(gNewLogMutex);
    if (loggingDisabled() || closed_)
        return;
    setFileHandle(nullptr);
    if (loggingSwitchedOff()) {
        printOut("Logging is disabled\n");
        setLoggingDisabled(true);
        return;
    }
    if (name && appName().empty())
        setAppName(name);
    setBytesWritten(0);
    if (appName().empty())
        setAppName("Unknown");
    const std::string app = appName();
    const std::string folder = currentLogFolder();
    if (!makeFolders(folder)) {
        printOut(base::format("Unable to create folder %s.\n", folder));
        return;
    }
    const std::string current = generationPath(folder, app, 1);
    if (exists(current)) {
        (void)unlink(generationPath(folder, app, 5).c_str());
        for (long n = 4; n >= 1; --n) {
            const std::string from = generationPath(folder, app, n);
            const std::string to = generationPath(folder, app, n + 1);
            if (exists(from) && rename(from.c_str(), to.c_str()) != 0) {
                printOut(base::format("Unable to move file %s to %s.\n", from, to));
                return;
            }
        }
    }
    if (auto error = writeEmptyFile(current)) {
        printOut(base::format("Unable to create log file %s - %s\n", current, *error));
        return;
    }
    const int fd = open(current.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    setFileHandle(std::make_shared<FileHandle>(fd));
    writeHeader();
}

void OWLog::writeHeader() {
    const std::string binary = containingBinary();
    appendTextToLog("Log started: " + dateText() + "\n");
    if (auto version = bundleVersion(binary))
        appendTextToLog("Version: " + *version + "\n");
    if (bundleContents(binary))
        appendTextToLog("Path: " + binary + "\n");
    appendTextToLog(systemLine() + "\n");
    appendTextToLog("Running in 64-bit mode\n");
}

void OWLog::log(Road road, std::string_view format, std::span<const base::FormatArg> args) {
    const auto self = sharedController();
    if (!self || self->loggingDisabled() || self->closed_)
        return;
    const std::string text = base::vformat(escapeTextForLogging(format), args);
    self->appendTextToLog(text);
    if (road == Road::Fast)
        return;
    const std::string trimmedText = trimmed(text);
    const uint64_t length = utf16Length(road == Road::Append ? text : trimmedText);
    if (length >= 1 && length <= kFlushLimit && self->bytesInQueue() <= kFlushLimit &&
        !base::RunLoop::isMainThread() && !self->isWriteQueueThread()) {
        finishWriting();
    }
    if (road == Road::Print) {
        std::string printed = replaceAll(trimmedText, "%@", "");
        printed.erase(std::remove(printed.begin(), printed.end(), '\0'), printed.end());
        printOut(printed + "\n");
    }
}

bool OWLog::isWriteQueueThread() const {
    const auto queue = writeQueue();
    return queue && base::OperationQueue::current() == queue;
}

void OWLog::finishWriting() {
    const auto self = sharedController();
    if (!self)
        return;
    const auto queue = self->writeQueue();
    if (!queue || self->isWriteQueueThread())
        return;
    auto barrier = std::make_shared<base::BlockOperation>([] {});
    queue->addOperation(barrier);
    barrier->waitUntilFinished();
}

std::vector<std::string> OWLog::availableLogs() {
    std::vector<std::string> logs;
    const auto self = sharedController();
    const std::string app = self ? self->appName() : fileStem(containingBinary());
    const std::string folder = logFolder(false);
    for (long n = 1; n <= 5; ++n) {
        const std::string path = generationPath(folder, app, n);
        if (exists(path))
            logs.push_back(path);
    }
    return logs;
}

std::string OWLog::escapeTextForLogging(std::string_view text) {
    std::string s(text);
    if (s.find('%') == std::string::npos)
        return s;
    for (std::string_view mark : {" ", ".", "!", ",", "-", ";", ":", "+"}) {
        s = replaceAll(s, std::string("%") + std::string(mark),
                       std::string("%%") + std::string(mark));
    }
    return replaceAll(s, "%%%", "%%");
}

void OWLog::willTerminate(const base::Notification&) {
    std::shared_ptr<OWLog> self;
    {
        std::lock_guard lock(gSharedMutex);
        self = gShared;
    }
    if (self)
        self->close();
}

void OWLog::close() {
    closed_ = true;
    terminateObservation_.reset();
    std::shared_ptr<base::OperationQueue> queue;
    {
        std::lock_guard lock(mutex_);
        queue = std::move(writeQueue_);
    }
    if (queue && !isQueueThread(queue)) {
        // A long backlog at exit is dropped rather than holding the process up.
        if (queue->operationCount() >= 11)
            queue->cancelAllOperations();
        queue->setSuspended(false);
        queue->waitUntilAllOperationsAreFinished();
    }
    std::lock_guard lock(mutex_);
    appName_.reset();
    fileHandle_.reset();
}

bool OWLog::isQueueThread(const std::shared_ptr<base::OperationQueue>& queue) {
    return base::OperationQueue::current() == queue;
}

void OWLog::appendTextToLog(std::string_view text) {
    std::string line = trimmed(text);
    if (line.empty())
        return;
    const auto queue = writeQueue();
    if (!queue)
        return;  // closed
    bytesInQueue_ += utf16Length(line);
    std::weak_ptr<OWLog> weak = weak_from_this();
    queue->addOperation([weak, line = std::move(line)] {
        if (auto self = weak.lock())
            self->appendLogOnThread(line);
    });
}

void OWLog::appendLogOnThread(const std::string& text) {
    const uint64_t length = utf16Length(text);
    try {
        writeEntry(text);
    } catch (...) {
        if (!loggingDisabled()) {
            printOut(base::format("Exception writing to log: %s\n",
                                  OWException::fromCurrentException().reason()));
        }
    }
    bytesInQueue_ -= std::min<uint64_t>(bytesInQueue_.load(), length);
}

void OWLog::writeEntry(const std::string& text) {
    if (loggingDisabled())
        return;
    auto handle = fileHandle();
    if (!handle) {
        handle = openCurrentLog();
        if (!handle) {
            if (!loggingDisabled()) {
                printOut(base::format("Unable to log the following information: %s\n", text));
                printOut("Unable to open log for output\n");
            }
            return;
        }
    }
    const std::string entry = dateText() + " - " + text + "\n";
    if (!base::writeFully(handle->fd(), entry)) {
        if (!loggingDisabled()) {
            printOut(base::format("Exception writing to log: %s\n", std::strerror(errno)));
        }
        return;
    }
    bytesWritten_ += entry.size();
    if (bytesWritten_.load() >= kTruncateBytes) {
        startNewLog(appName());
        appendLog("Log truncated at 500KB");
    }
}

// Opens an existing current log for appending (never creating it). Its present size
// counts towards the limit, so processes that only ever append still rotate. Under the
// new-log lock: it never opens a file that a new log is moving aside, and a log started
// meanwhile keeps its handle.
std::shared_ptr<OWLog::FileHandle> OWLog::openCurrentLog() {
    std::lock_guard lock(gNewLogMutex);
    if (auto current = fileHandle())
        return current;
    const std::string path = generationPath(currentLogFolder(), appName(), 1);
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return nullptr;
    auto handle = std::make_shared<FileHandle>(fd);
    struct stat st {};
    setBytesWritten(fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0);
    setFileHandle(handle);
    return handle;
}

std::string OWLog::appName() const {
    {
        std::lock_guard lock(mutex_);
        if (appName_)
            return *appName_;
    }
    return fileStem(containingBinary());
}

void OWLog::setAppName(std::optional<std::string> name) {
    std::lock_guard lock(mutex_);
    appName_ = std::move(name);
}

void OWLog::setLoggingDisabled(bool disabled) {
    loggingDisabled_.store(disabled);
}

std::shared_ptr<OWLog::FileHandle> OWLog::fileHandle() const {
    std::lock_guard lock(mutex_);
    return fileHandle_;
}

void OWLog::setFileHandle(std::shared_ptr<FileHandle> handle) {
    std::lock_guard lock(mutex_);
    fileHandle_ = std::move(handle);
}

std::shared_ptr<base::OperationQueue> OWLog::writeQueue() const {
    std::lock_guard lock(mutex_);
    return writeQueue_;
}

void OWLog::setWriteQueue(std::shared_ptr<base::OperationQueue> queue) {
    std::lock_guard lock(mutex_);
    writeQueue_ = std::move(queue);
}
