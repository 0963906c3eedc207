#include "platform/system/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <vector>

#include "base/UniqueFd.h"

namespace platform::system::fileops {
namespace {

using base::UniqueFd;

double seconds(const struct statx_timestamp& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

ItemKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return ItemKind::File;
    }
    if (S_ISDIR(mode)) {
        return ItemKind::Directory;
    }
    if (S_ISLNK(mode)) {
        return ItemKind::SymbolicLink;
    }
    return ItemKind::Other;
}

std::optional<ItemInfo> statxInfo(const std::string& path, int flags) {
    if (path.empty()) {
        return std::nullopt;
    }
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        return std::nullopt;
    }
    ItemInfo info;
    info.mode = sx.stx_mode;
    info.kind = kindOf(sx.stx_mode);
    info.size = sx.stx_size;
    info.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    info.inode = sx.stx_ino;
    info.modified = seconds(sx.stx_mtime);
    if (sx.stx_mask & STATX_BTIME) {
        info.created = seconds(sx.stx_btime);
    }
    return info;
}

// Copies the user attributes that can be read; system ones (ACLs, security labels)
// belong to the destination's own context.
void copyUserAttributes(int from, int to) {
    std::vector<char> names(4096);
    ssize_t len = ::flistxattr(from, names.data(), names.size());
    if (len < 0 && errno == ERANGE) {
        names.resize(65536);
        len = ::flistxattr(from, names.data(), names.size());
    }
    if (len <= 0) {
        return;
    }
    std::vector<char> value(65536);
    for (ssize_t i = 0; i < len;) {
        std::string name(names.data() + i);
        i += static_cast<ssize_t>(name.size()) + 1;
        if (name.rfind("user.", 0) != 0) {
            continue;
        }
        ssize_t n = ::fgetxattr(from, name.c_str(), value.data(), value.size());
        if (n >= 0) {
            ::fsetxattr(to, name.c_str(), value.data(), static_cast<size_t>(n), 0);
        }
    }
}

bool copyBytes(int from, int to) {
    // copy_file_range lets the file system share or offload; fall back to plain
    // reads where it is not offered.
    for (;;) {
        ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
                break;
            }
            return false;
        }
    }
    std::vector<char> buf(1 << 20);
    for (;;) {
        ssize_t n = ::read(from, buf.data(), buf.size());
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(to, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            done += w;
        }
    }
}

FsStatus copyItem(const std::string& src, const std::string& dst, bool& createdDst);

FsStatus copyFile(const std::string& src, const std::string& dst, const struct stat& st,
                  bool& created) {
    UniqueFd in(::open(src.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.get() < 0) {
        return FsStatus::failure(errno, src);
    }
    UniqueFd out(::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        return FsStatus::failure(errno, dst);
    }
    created = true;
    if (!copyBytes(in.get(), out.get())) {
        return FsStatus::failure(errno, dst);
    }
    copyUserAttributes(in.get(), out.get());
    ::fchmod(out.get(), st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
    if (::close(out.release()) != 0) {
        return FsStatus::failure(errno, dst);
    }
    return FsStatus::success();
}

FsStatus copyLink(const std::string& src, const std::string& dst, const struct stat& st,
                  bool& created) {
    std::vector<char> target(static_cast<size_t>(st.st_size) + 1);
    for (;;) {
        ssize_t n = ::readlink(src.c_str(), target.data(), target.size());
        if (n < 0) {
            return FsStatus::failure(errno, src);
        }
        if (static_cast<size_t>(n) < target.size()) {
            target.resize(static_cast<size_t>(n));
            break;
        }
        target.resize(target.size() * 2);  // the link grew since lstat
    }
    target.push_back('\0');
    if (::symlink(target.data(), dst.c_str()) != 0) {
        return FsStatus::failure(errno, dst);
    }
    created = true;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, dst.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return FsStatus::success();
}

FsStatus copyFolder(const std::string& src, const std::string& dst, const struct stat& st,
                    bool& created) {
    auto entries = listDirectory(src);
    if (!entries) {
        return FsStatus::failure(errno, src);
    }
    if (::mkdir(dst.c_str(), 0700) != 0) {
        return FsStatus::failure(errno, dst);
    }
    created = true;
    for (const auto& name : *entries) {
        bool childCreated = false;
        FsStatus s = copyItem(joinPath(src, name), joinPath(dst, name), childCreated);
        if (!s) {
            return s;
        }
    }
    {
        UniqueFd in(::open(src.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        UniqueFd out(::open(dst.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (in.get() >= 0 && out.get() >= 0) {
            copyUserAttributes(in.get(), out.get());
        }
    }
    ::chmod(dst.c_str(), st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, dst.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return FsStatus::success();
}

FsStatus copyItem(const std::string& src, const std::string& dst, bool& createdDst) {
    struct stat st {};
    if (::lstat(src.c_str(), &st) != 0) {
        return FsStatus::failure(errno, src);
    }
    if (S_ISREG(st.st_mode)) {
        return copyFile(src, dst, st, createdDst);
    }
    if (S_ISLNK(st.st_mode)) {
        return copyLink(src, dst, st, createdDst);
    }
    if (S_ISDIR(st.st_mode)) {
        return copyFolder(src, dst, st, createdDst);
    }
    if (S_ISFIFO(st.st_mode)) {
        if (::mkfifo(dst.c_str(), st.st_mode & 07777) != 0) {
            return FsStatus::failure(errno, dst);
        }
        createdDst = true;
        return FsStatus::success();
    }
    return FsStatus::failure(EOPNOTSUPP, src);
}

FsStatus removeAt(int dirFd, const char* name, const std::string& display) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return FsStatus::failure(errno, display);
    }
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(dirFd, name, 0) != 0) {
            return FsStatus::failure(errno, display);
        }
        return FsStatus::success();
    }
    int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return FsStatus::failure(errno, display);
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        int err = errno;
        ::close(fd);
        return FsStatus::failure(err, display);
    }
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(dir)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") {
            names.push_back(std::move(n));
        }
    }
    FsStatus result;
    for (const auto& n : names) {
        result = removeAt(::dirfd(dir), n.c_str(), joinPath(display, n));
        if (!result) {
            break;
        }
    }
    ::closedir(dir);
    if (!result) {
        return result;
    }
    if (::unlinkat(dirFd, name, AT_REMOVEDIR) != 0) {
        return FsStatus::failure(errno, display);
    }
    return FsStatus::success();
}

uint64_t entrySize(const std::string& path, int depth) {
    auto info = itemInfo(path);
    if (!info) {
        return 0;
    }
    if (info->kind != ItemKind::Directory) {
        return info->size;
    }
    if (depth > 4096) {
        return 0;
    }
    uint64_t total = 0;
    if (auto entries = listDirectory(path)) {
        for (const auto& name : *entries) {
            total += entrySize(joinPath(path, name), depth + 1);
        }
    }
    return total;
}

}  // namespace

std::optional<ItemInfo> itemInfo(const std::string& path) {
    return statxInfo(path, AT_SYMLINK_NOFOLLOW);
}

std::optional<ItemInfo> targetInfo(const std::string& path) {
    return statxInfo(path, 0);
}

bool exists(const std::string& path) {
    return targetInfo(path).has_value();
}

bool existsOrIsLink(const std::string& path) {
    return itemInfo(path).has_value();
}

bool isDirectory(const std::string& path) {
    auto info = targetInfo(path);
    return info && info->kind == ItemKind::Directory;
}

bool isSymbolicLink(const std::string& path) {
    auto info = itemInfo(path);
    return info && info->kind == ItemKind::SymbolicLink;
}

bool isSameItem(const std::string& a, const std::string& b) {
    auto x = itemInfo(a);
    auto y = itemInfo(b);
    return x && y && x->device == y->device && x->inode == y->inode;
}

std::optional<std::vector<std::string>> listDirectory(const std::string& path) {
    const base::UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    auto names = folder.valid() ? listDirectoryAt(folder.get()) : std::nullopt;
    if (names) {
        std::sort(names->begin(), names->end());
    }
    return names;
}

std::optional<std::vector<std::string>> listDirectoryAt(int dirFd, size_t most) {
    // A descriptor of its own: closedir closes what fdopendir was given.
    const int listed = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0) {
            ::close(listed);
        }
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (names.size() < most) {
        const struct dirent* e = ::readdir(dir);
        if (!e) {
            break;
        }
        std::string n = e->d_name;
        if (n != "." && n != "..") {
            names.push_back(std::move(n));
        }
    }
    ::closedir(dir);
    return names;
}

FsStatus createDirectories(const std::string& path, mode_t mode) {
    if (path.empty()) {
        return FsStatus::failure(ENOENT, path);
    }
    if (isDirectory(path)) {
        return FsStatus::success();
    }
    std::string parent = parentPath(path);
    if (!parent.empty() && parent != path) {
        if (FsStatus s = createDirectories(parent, mode); !s) {
            return s;
        }
    }
    if (::mkdir(path.c_str(), mode) != 0) {
        int err = errno;
        if (err == EEXIST && isDirectory(path)) {
            return FsStatus::success();  // made by someone else meanwhile
        }
        return FsStatus::failure(err, path);
    }
    return FsStatus::success();
}

FsStatus removeTree(const std::string& path) {
    if (path.empty()) {
        return FsStatus::failure(ENOENT, path);
    }
    return removeAt(AT_FDCWD, path.c_str(), path);
}

FsStatus copyTree(const std::string& source, const std::string& destination) {
    if (source.empty() || destination.empty()) {
        return FsStatus::failure(EINVAL, source.empty() ? source : destination);
    }
    if (existsOrIsLink(destination)) {
        return FsStatus::failure(EEXIST, destination);
    }
    bool created = false;
    FsStatus s = copyItem(source, destination, created);
    if (!s && created) {
        removeTree(destination);
    }
    return s;
}

FsStatus moveItem(const std::string& source, const std::string& destination) {
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) ==
        0) {
        return FsStatus::success();
    }
    int err = errno;
    if (err == EINVAL && existsOrIsLink(source)) {
        // A file system without no-replace renames: check first, then rename.
        if (existsOrIsLink(destination)) {
            return FsStatus::failure(EEXIST, destination);
        }
        if (::rename(source.c_str(), destination.c_str()) == 0) {
            return FsStatus::success();
        }
        err = errno;
    }
    if (err != EXDEV) {
        return FsStatus::failure(err, err == EEXIST ? destination : source);
    }
    if (FsStatus s = copyTree(source, destination); !s) {
        return s;
    }
    // The copy is complete; when the source cannot be fully removed both stay, so
    // nothing is lost, and the move reports the failure.
    return removeTree(source);
}

FsStatus createEmptyFile(const std::string& path, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        return FsStatus::failure(errno, path);
    }
    ::close(fd);
    return FsStatus::success();
}

FsStatus setModificationTime(const std::string& path, double secondsSince1970) {
    if (!std::isfinite(secondsSince1970)) {
        return FsStatus::failure(EINVAL, path);
    }
    double whole = std::floor(secondsSince1970);
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(whole);
    times[1].tv_nsec = static_cast<long>((secondsSince1970 - whole) * 1e9);
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        return FsStatus::failure(errno, path);
    }
    return FsStatus::success();
}

FsStatus setPermissions(const std::string& path, mode_t mode) {
    if (::chmod(path.c_str(), mode & 07777) != 0) {
        return FsStatus::failure(errno, path);
    }
    return FsStatus::success();
}

bool isWritable(const std::string& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

uint64_t treeSize(const std::string& path) {
    auto info = targetInfo(path);
    if (!info) {
        return 0;
    }
    if (info->kind != ItemKind::Directory) {
        return info->size;
    }
    uint64_t total = 0;
    if (auto entries = listDirectory(path)) {
        for (const auto& name : *entries) {
            total += entrySize(joinPath(path, name), 1);
        }
    }
    return total;
}

std::string lastComponent(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) {
        return path.empty() ? "" : "/";
    }
    size_t start = path.rfind('/', end);
    start = start == std::string::npos ? 0 : start + 1;
    return path.substr(start, end - start + 1);
}

std::string parentPath(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) {
        return path.empty() ? "" : "/";
    }
    size_t slash = path.rfind('/', end);
    if (slash == std::string::npos) {
        return "";
    }
    size_t keep = path.find_last_not_of('/', slash);
    return keep == std::string::npos ? "/" : path.substr(0, keep + 1);
}

std::string joinPath(const std::string& folder, const std::string& name) {
    size_t first = name.find_first_not_of('/');
    std::string tail = first == std::string::npos ? "" : name.substr(first);
    if (folder.empty()) {
        return tail;
    }
    size_t end = folder.find_last_not_of('/');
    std::string head = end == std::string::npos ? "" : folder.substr(0, end + 1);
    if (tail.empty()) {
        return head.empty() ? "/" : head;
    }
    return head + "/" + tail;
}

std::vector<std::string> pathComponents(const std::string& path) {
    std::vector<std::string> parts;
    if (!path.empty() && path[0] == '/') {
        parts.emplace_back("/");
    }
    size_t pos = 0;
    while (pos < path.size()) {
        size_t slash = path.find('/', pos);
        size_t end = slash == std::string::npos ? path.size() : slash;
        if (end > pos) {
            parts.push_back(path.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return parts;
}

std::string pathExtension(const std::string& path) {
    std::string name = lastComponent(path);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return "";
    }
    return name.substr(dot + 1);
}

std::string deletingPathExtension(const std::string& path) {
    std::string ext = pathExtension(path);
    if (ext.empty()) {
        return path;
    }
    size_t end = path.find_last_not_of('/');
    return path.substr(0, end + 1 - ext.size() - 1);
}

}  // namespace platform::system::fileops
