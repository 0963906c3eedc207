#include "base/UniqueFd.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace base {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

int UniqueFd::release() {
    return std::exchange(fd_, -1);
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

bool writeFully(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

size_t readFully(int fd, void* buffer, size_t size, bool* failed) {
    auto* bytes = static_cast<char*>(buffer);
    size_t total = 0;
    if (failed) {
        *failed = false;
    }
    while (total < size) {
        const ssize_t n = ::read(fd, bytes + total, size - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (failed) {
                *failed = n < 0;
            }
            break;
        }
        total += static_cast<size_t>(n);
    }
    return total;
}

}  // namespace base
