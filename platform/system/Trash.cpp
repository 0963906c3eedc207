#include "platform/system/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/UniqueFd.h"
#include "platform/system/FileOps.h"
#include "platform/system/Volume.h"

namespace platform::system {
namespace {

constexpr int kMaxAttempts = 10000;

std::string absoluteOriginal(const std::string& path) {
    std::string parent = fileops::parentPath(path);
    char buf[PATH_MAX];
    if (!parent.empty() && ::realpath(parent.c_str(), buf)) {
        return fileops::joinPath(buf, fileops::lastComponent(path));
    }
    return path;
}

std::string deletionDate(std::time_t when) {
    struct tm local {};
    ::localtime_r(&when, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
    return buf;
}

// The nearest existing folder at or above a path, for comparing devices.
std::optional<fileops::ItemInfo> nearestExisting(std::string path) {
    while (!path.empty()) {
        if (auto info = fileops::targetInfo(path)) {
            return info;
        }
        std::string parent = fileops::parentPath(path);
        if (parent == path) {
            break;
        }
        path = parent;
    }
    return std::nullopt;
}

FsStatus makePrivateFolder(const std::string& path) {
    if (FsStatus s = fileops::createDirectories(path, 0700); !s) {
        return s;
    }
    auto info = fileops::itemInfo(path);
    if (!info || info->kind != fileops::ItemKind::Directory) {
        return FsStatus::failure(ENOTDIR, path);
    }
    return FsStatus::success();
}

}  // namespace

Trash::Trash(std::string homeTrash) : homeTrash_(std::move(homeTrash)) {}

std::string Trash::defaultHomeTrash() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') {
        return fileops::joinPath(data, "Trash");
    }
    const char* home = std::getenv("HOME");
    return fileops::joinPath(home && home[0] ? home : "/", ".local/share/Trash");
}

std::string Trash::stamp(std::time_t when) {
    struct tm local {};
    ::localtime_r(&when, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &local);
    return buf;
}

std::string Trash::candidateName(const std::string& name, int attempt, const std::string& stamp) {
    if (attempt <= 0) {
        return name;
    }
    std::string base = fileops::deletingPathExtension(name);
    std::string ext = fileops::pathExtension(name);
    std::string middle = base + "_" + stamp;
    if (attempt > 1) {
        middle += "_" + std::to_string(attempt);
    }
    return middle + "." + ext;
}

std::string Trash::encodePath(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
        if (keep) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::optional<Trash::Slot> Trash::reserve(const std::string& trashRoot, const std::string& path,
                                          const std::string& recordedPath, FsStatus* error) const {
    const std::string files = fileops::joinPath(trashRoot, "files");
    const std::string info = fileops::joinPath(trashRoot, "info");
    for (const auto& folder : {trashRoot, files, info}) {
        if (FsStatus s = makePrivateFolder(folder); !s) {
            if (error) {
                *error = s;
            }
            return std::nullopt;
        }
    }
    const std::time_t now = std::time(nullptr);
    const std::string name = fileops::lastComponent(path);
    const std::string when = stamp(now);
    const std::string text = "[Trash Info]\nPath=" + encodePath(recordedPath) +
                             "\nDeletionDate=" + deletionDate(now) + "\n";
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        Slot slot;
        std::string candidate = candidateName(name, attempt, when);
        slot.infoPath = fileops::joinPath(info, candidate + ".trashinfo");
        slot.filesPath = fileops::joinPath(files, candidate);
        int fd = ::open(slot.infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            if (error) {
                *error = FsStatus::failure(errno, slot.infoPath);
            }
            return std::nullopt;
        }
        bool written = base::writeFully(fd, text);
        ::close(fd);
        if (!written) {
            if (error) {
                *error = FsStatus::failure(errno, slot.infoPath);
            }
            ::unlink(slot.infoPath.c_str());
            return std::nullopt;
        }
        if (fileops::existsOrIsLink(slot.filesPath)) {
            // A stray item without info file: leave it and try the next name.
            ::unlink(slot.infoPath.c_str());
            continue;
        }
        return slot;
    }
    if (error) {
        *error = FsStatus::failure(EEXIST, trashRoot);
    }
    return std::nullopt;
}

void Trash::release(const Slot& slot) {
    ::unlink(slot.infoPath.c_str());
}

std::optional<std::string> Trash::volumeTrashFor(const std::string& path, FsStatus* error) {
    auto mount = volume::mountForPath(absoluteOriginal(path), volume::currentMounts());
    if (!mount) {
        if (error) {
            *error = FsStatus::failure(ENOENT, path);
        }
        return std::nullopt;
    }
    std::string root = fileops::joinPath(mount->mountPoint, ".Trash-" + std::to_string(::getuid()));
    if (auto info = fileops::itemInfo(root)) {
        // Never use a trash that is a link or belongs to someone else.
        struct stat st {};
        if (info->kind != fileops::ItemKind::Directory || ::lstat(root.c_str(), &st) != 0 ||
            st.st_uid != ::getuid()) {
            if (error) {
                *error = FsStatus::failure(EPERM, root);
            }
            return std::nullopt;
        }
    }
    return root;
}

FsStatus Trash::moveToTrash(const std::string& path, std::string* trashedAs) const {
    auto item = fileops::itemInfo(path);
    if (!item) {
        return FsStatus::failure(errno, path);
    }
    const std::string original = absoluteOriginal(path);
    std::string root = homeTrash_;
    std::string recorded = original;
    auto home = nearestExisting(homeTrash_);
    if (!home || home->device != item->device) {
        FsStatus error;
        if (auto volumeRoot = volumeTrashFor(original, &error)) {
            root = *volumeRoot;
            // Volume trashes record paths relative to the mount point.
            std::string top = fileops::parentPath(*volumeRoot);
            recorded = original.substr(top == "/" ? 1 : top.size() + 1);
        }
    }
    FsStatus error;
    auto slot = reserve(root, original, recorded, &error);
    if (!slot && root != homeTrash_) {
        root = homeTrash_;
        recorded = original;
        slot = reserve(root, original, recorded, &error);
    }
    if (!slot) {
        return error;
    }
    FsStatus moved = fileops::moveItem(path, slot->filesPath);
    if (!moved) {
        release(*slot);
        return moved;
    }
    if (trashedAs) {
        *trashedAs = slot->filesPath;
    }
    return FsStatus::success();
}

}  // namespace platform::system
