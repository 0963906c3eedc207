#include "apps/share_destination/SAMHandOver.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/Console.h"
#include "platform/scripting/Bookmark.h"
#include "platform/system/FileOps.h"

namespace sam {
namespace {

using platform::scripting::Descriptor;
using platform::scripting::ScriptError;
namespace fileops = platform::system::fileops;

std::string lowercase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

ScriptError openError(int error, const std::string& path) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return {platform::scripting::kFileNotFoundError, "No file at " + path + "."};
        case EACCES:
        case EPERM:
            return {platform::scripting::kPermissionError,
                    "The file at " + path + " may not be read."};
        case ENXIO:  // a socket
            return {platform::scripting::kNotAFileError, path + " is not a file."};
        default:
            return {platform::scripting::kIOError, "The file at " + path + " cannot be read."};
    }
}

// The file one item names; the script error when the item is no usable bookmark.
std::variant<platform::scripting::FileURL, ScriptError> fileOfItem(const Descriptor& item,
                                                                   size_t position) {
    const std::string which = "Item " + std::to_string(position);
    if (item.type() != platform::scripting::kTypeBookmarkData ||
        item.kind() != Descriptor::Kind::Atomic) {
        return ScriptError{platform::scripting::kCoercionError, which + " is not bookmark data."};
    }
    // Measured before anything is made of it: a huge item is never copied or logged.
    if (item.data().size() > platform::scripting::bookmark::kMaxSize) {
        return ScriptError{platform::scripting::kCoercionError,
                           which + " is larger than a bookmark may be."};
    }
    auto url = platform::scripting::bookmark::resolve(item.data());
    if (!url) {
        return ScriptError{platform::scripting::kCoercionError,
                           which + " is not a bookmark of a file on this computer."};
    }
    return *url;
}

constexpr const char kUploadFolderPrefix[] = "upload-";
// What every upload link leads to: a descriptor of the program that made it.
constexpr const char kUploadLinkTarget[] = "/proc/";

// `upload-` and six letters or digits, as mkdtemp makes them.
bool isUploadFolderName(const std::string& name) {
    const size_t prefix = sizeof kUploadFolderPrefix - 1;
    return name.size() == prefix + 6 && name.compare(0, prefix, kUploadFolderPrefix) == 0 &&
           std::all_of(name.begin() + prefix, name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

// Removes the leftover folder `name` in the folder `home` is open on, when it has
// exactly the form a killed run leaves.
void removeLeftover(int home, const std::string& name) {
    base::UniqueFd folder(
        ::openat(home, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!folder.valid() || ::fstat(folder.get(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid()) {
        return;
    }
    // A running program holds the lock of the folder it uploads through.
    if (::flock(folder.get(), LOCK_EX | LOCK_NB) != 0) {
        return;
    }
    const auto names = fileops::listDirectoryAt(folder.get(), 2);
    if (!names || names->size() != 1) {
        return;
    }
    const std::string& link = names->front();
    char target[sizeof kUploadLinkTarget] = {};
    if (::fstatat(folder.get(), link.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(st.st_mode) ||
        ::readlinkat(folder.get(), link.c_str(), target, sizeof target - 1) !=
            ssize_t(sizeof target - 1) ||
        std::strcmp(target, kUploadLinkTarget) != 0) {
        return;
    }
    if (::unlinkat(folder.get(), link.c_str(), 0) == 0) {
        (void)::unlinkat(home, name.c_str(), AT_REMOVEDIR);
        base::Console::log("removed the leftover %@", name);
    }
}

// The upload link of this process and its folder, for the termination handler. Written
// on the main thread before `gTermArmed` is set, read by a handler on any thread.
char gTermLink[PATH_MAX];
char gTermFolder[PATH_MAX];
std::atomic<bool> gTermArmed{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void setTerminationLink(const std::string& link, const std::string& folder) {
    gTermArmed.store(false, std::memory_order_release);
    if (link.size() >= sizeof gTermLink || folder.size() >= sizeof gTermFolder) {
        return;
    }
    std::memcpy(gTermLink, link.c_str(), link.size() + 1);
    std::memcpy(gTermFolder, folder.c_str(), folder.size() + 1);
    gTermArmed.store(true, std::memory_order_release);
}

extern "C" void removeLinkAndEnd(int signal) {
    // Only async-signal-safe calls here.
    if (gTermArmed.load(std::memory_order_acquire)) {
        (void)::unlink(gTermLink);
        (void)::rmdir(gTermFolder);
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

std::variant<std::shared_ptr<const CheckedFile>, ScriptError> openChecked(const std::string& path) {
    // Looked at before it is opened: a pipe is never opened at all, so no writer ever
    // finds this program reading it.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return openError(errno, path);
    }
    if (!S_ISREG(st.st_mode)) {
        return ScriptError{platform::scripting::kNotAFileError, path + " is not a file."};
    }
    // Non-blocking all the same: the path may name a pipe by now, and opening one for
    // reading would wait for a writer.
    base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        return openError(errno, path);
    }
    if (::fstat(fd.get(), &st) != 0) {
        return openError(errno, path);
    }
    if (!S_ISREG(st.st_mode)) {
        return ScriptError{platform::scripting::kNotAFileError, path + " is not a file."};
    }
    return std::make_shared<const CheckedFile>(path, std::move(fd));
}

bool CheckedFile::isAt(const std::string& path) const {
    struct stat held {};
    if (::fstat(fd_.get(), &held) != 0) {
        return false;
    }
    const auto same = [&held](const struct stat& named) {
        return named.st_dev == held.st_dev && named.st_ino == held.st_ino;
    };
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0) {
        return false;
    }
    if (same(named)) {
        return true;
    }
    return S_ISLNK(named.st_mode) && ::stat(path.c_str(), &named) == 0 && same(named);
}

CheckedFile::UploadLink CheckedFile::linkIn(const std::string& parent) const {
    std::string folder = parent + "/" + kUploadFolderPrefix + "XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        return UploadLink();
    }
    UploadLink made;
    // Locked before the link is made: an empty folder is never taken for a leftover, one
    // with a link only once its lock is free.
    made.folderLock.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const std::string link = folder + "/" + std::filesystem::path(path_).filename().string();
    // The descriptor by this process's id: to any other process the link leads nowhere
    // once this one has gone.
    const std::string target =
        kUploadLinkTarget + std::to_string(::getpid()) + "/fd/" + std::to_string(fd_.get());
    if (!made.folderLock.valid() || ::flock(made.folderLock.get(), LOCK_EX) != 0 ||
        ::symlink(target.c_str(), link.c_str()) != 0) {
        (void)::rmdir(folder.c_str());
        return UploadLink();
    }
    made.path = link;
    setTerminationLink(link, folder);
    return made;
}

void CheckedFile::removeLink(UploadLink& link) {
    if (link.path.empty()) {
        return;
    }
    gTermArmed.store(false, std::memory_order_release);
    (void)::unlink(link.path.c_str());
    (void)::rmdir(std::filesystem::path(link.path).parent_path().c_str());
    link.path.clear();
    link.folderLock.reset();
}

std::variant<HandOver, ScriptError> readHandOver(const Descriptor& direct) {
    HandOver handOver;
    // The editor sends a list; a single bookmark is taken as a list of one.
    const size_t count = direct.isList() ? direct.count() : 1;
    for (size_t i = 1; i <= count; ++i) {
        const Descriptor& item = direct.isList() ? *direct.at(i) : direct;
        auto file = fileOfItem(item, i);
        if (auto* error = std::get_if<ScriptError>(&file)) {
            base::Console::log("open documents: %@", error->message);
            return *error;
        }
        const auto& url = std::get<platform::scripting::FileURL>(file);
        base::Console::log("url: %@", url.absoluteString());
        const std::string extension = lowercase(url.pathExtension());
        if (extension == "mp4" || extension == "mov") {
            handOver.moviePath = url.path();
        } else if (extension == "fcpxml") {
            handOver.xmlPath = url.path();
        }
    }
    return handOver;
}

bool liesDirectlyIn(const std::string& path, const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path file(path);
    const fs::path parent = fs::canonical(file.parent_path(), error);
    if (error || file.filename().empty()) {
        return false;
    }
    const fs::path home = fs::canonical(folder, error);
    return !error && parent == home;
}

void clearHandedOutPath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && ::unlink(path.c_str()) == 0) {
        base::Console::log("removed what an earlier share left at %@", path);
    }
}

void removeLeftoverUploadFolders(const std::string& parent) {
    const base::UniqueFd home(
        ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!home.valid()) {
        return;
    }
    // The folder holds this program's few files: a bounded look is enough.
    const auto names = fileops::listDirectoryAt(home.get(), 4096);
    for (const std::string& name : names.value_or(std::vector<std::string>())) {
        if (isUploadFolderName(name)) {
            removeLeftover(home.get(), name);
        }
    }
}

void removeUploadLinkOnTermination() {
    for (const int signal : {SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = removeLinkAndEnd;
        ::sigemptyset(&action.sa_mask);
        (void)::sigaction(signal, &action, nullptr);
    }
}

}  // namespace sam
