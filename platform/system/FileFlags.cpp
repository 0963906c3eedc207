#include "platform/system/FileFlags.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::system::fileflags {
namespace {

// Only regular files and folders are opened: opening a device or a FIFO could
// block or have side effects, and a link would be followed.
int openForFlags(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return -1;
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        errno = ENOTTY;
        return -1;
    }
    return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
}

}  // namespace

std::optional<bool> isImmutable(const std::string& path) {
    int fd = openForFlags(path);
    if (fd < 0) {
        return std::nullopt;
    }
    int flags = 0;
    int rc = ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
    ::close(fd);
    if (rc != 0) {
        return std::nullopt;
    }
    return (flags & FS_IMMUTABLE_FL) != 0;
}

FsStatus setImmutable(const std::string& path, bool immutable) {
    int fd = openForFlags(path);
    if (fd < 0) {
        return FsStatus::failure(errno, path);
    }
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        int err = errno;
        ::close(fd);
        return FsStatus::failure(err, path);
    }
    int wanted = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    int rc = wanted == flags ? 0 : ::ioctl(fd, FS_IOC_SETFLAGS, &wanted);
    int err = errno;
    ::close(fd);
    if (rc != 0) {
        return FsStatus::failure(err, path);
    }
    return FsStatus::success();
}

}  // namespace platform::system::fileflags
