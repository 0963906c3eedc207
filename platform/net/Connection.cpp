#include "platform/net/Connection.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/net/NetError.h"

namespace platform::net {

Connection::Connection(int fd) : fd_(fd) {}

Connection::~Connection() {
    tls_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

IoResult Connection::read(void* buf, size_t len, size_t& n, std::optional<base::Error>& error) {
    n = 0;
    if (tls_) {
        IoResult r = tls_->read(buf, len, n);
        if (r == IoResult::Failed)
            error = tls_->error();
        return r;
    }
    ssize_t got = ::recv(fd_, buf, len, 0);
    if (got > 0) {
        n = static_cast<size_t>(got);
        return IoResult::Done;
    }
    if (got == 0)
        return IoResult::Closed;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return IoResult::WantRead;
    error = posixError(errno, "recv");
    return IoResult::Failed;
}

IoResult Connection::write(const void* buf, size_t len, size_t& n,
                           std::optional<base::Error>& error) {
    n = 0;
    if (tls_) {
        IoResult r = tls_->write(buf, len, n);
        if (r == IoResult::Failed)
            error = tls_->error();
        return r;
    }
    ssize_t sent = ::send(fd_, buf, len, MSG_NOSIGNAL);
    if (sent >= 0) {
        n = static_cast<size_t>(sent);
        return IoResult::Done;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return IoResult::WantWrite;
    error = posixError(errno, "send");
    return IoResult::Failed;
}

bool Connection::hasEarlyInput() {
    if (tls_)
        return tls_->hasApplicationData();
    uint8_t probe;
    return ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

uint64_t Connection::queuedOutput() const {
    int queued = 0;
    if (::ioctl(fd_, SIOCOUTQ, &queued) == 0 && queued >= 0)
        return static_cast<uint64_t>(queued);
    int size = 0;
    socklen_t len = sizeof size;
    if (::getsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, &len) == 0 && size > 0)
        return static_cast<uint64_t>(size);
    return 0;
}

bool Connection::isAlive() const {
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, 0);
    if (r < 0)
        return false;
    if (r == 0)
        return !hasBufferedInput();
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
        return false;
    // Readable while idle: either the close (0 bytes) or bytes nobody asked for
    // (for TLS perhaps a close_notify); in no case can a request go out on it.
    return false;
}

}  // namespace platform::net
