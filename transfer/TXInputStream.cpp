#include "transfer/TXInputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "transfer/TXBandwidthThrottle.h"

std::mutex TXInputStream::readLock;

std::shared_ptr<TXInputStream> TXInputStream::inputStreamWithFileAtPath(const std::string& path,
                                                                        ThrottleHook hook,
                                                                        Clock clock) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto stream =
        std::shared_ptr<TXInputStream>(new TXInputStream(std::move(hook), std::move(clock)));
    stream->fd_ = fd;
    stream->isFile_ = true;
    return stream;
}

std::shared_ptr<TXInputStream> TXInputStream::inputStreamWithFileRange(
    const std::string& path, uint64_t offset, uint64_t length, ThrottleHook hook, Clock clock) {
    auto stream = inputStreamWithFileAtPath(path, std::move(hook), std::move(clock));
    if (!stream || ::lseek(stream->fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        return nullptr;
    stream->fileLeft_ = length;
    return stream;
}

std::shared_ptr<TXInputStream> TXInputStream::inputStreamWithData(base::Data data,
                                                                  ThrottleHook hook, Clock clock) {
    auto stream =
        std::shared_ptr<TXInputStream>(new TXInputStream(std::move(hook), std::move(clock)));
    stream->data_ = std::move(data);
    return stream;
}

TXInputStream::~TXInputStream() {
    close();
}

void TXInputStream::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

ssize_t TXInputStream::read(uint8_t* buf, size_t n) {
    auto& throttle = TXBandwidthThrottle::shared();
    bool throttled = false;
    {
        std::lock_guard guard(readLock);
        if (throttle.isThrottled()) {
            double now = clock_ ? clock_() : 0;
            throttle.measure(now);
            uint64_t allowed = throttle.maxUploadReadLength(now);
            if (allowed <= n) {
                n = allowed == 0 ? 1 : static_cast<size_t>(allowed);
            }
            throttled = true;
        }
    }
    if (throttled && hook_)
        hook_();
    ssize_t got = readWrapped(buf, n);
    if (got > 0)
        throttle.incrementBandwidthUsedInLastSecond(static_cast<uint64_t>(got));
    return got;
}

ssize_t TXInputStream::readWrapped(uint8_t* buf, size_t n) {
    if (isFile_) {
        if (fd_ < 0)
            return -1;
        n = static_cast<size_t>(std::min<uint64_t>(n, fileLeft_));
        if (n == 0)
            return 0;
        for (;;) {
            ssize_t got = ::read(fd_, buf, n);
            if (got < 0 && errno == EINTR)
                continue;
            if (got > 0 && fileLeft_ != UINT64_MAX)
                fileLeft_ -= static_cast<uint64_t>(got);
            return got;
        }
    }
    size_t take = std::min(n, data_.size() - offset_);
    if (take > 0)
        std::memcpy(buf, data_.data() + offset_, take);
    offset_ += take;
    return static_cast<ssize_t>(take);
}
