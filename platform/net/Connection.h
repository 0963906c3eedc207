#pragma once
// A connected, non-blocking socket, with TLS on top once negotiated. It belongs to
// no run loop: a stream drives it while it carries a request, and the connection
// cache keeps it between requests, so any thread's stream may take it next.
#include <memory>
#include <string>

#include "platform/net/TlsSession.h"

namespace platform::net {

class Connection {
  public:
    explicit Connection(int fd);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return fd_; }
    void startTls(std::unique_ptr<TlsSession> tls) { tls_ = std::move(tls); }
    TlsSession* tls() const { return tls_.get(); }

    // Moves bytes over TLS when it is on, else over the socket. On Failed,
    // `error` says why (errno or TLS).
    IoResult read(void* buf, size_t len, size_t& n, std::optional<base::Error>& error);
    IoResult write(const void* buf, size_t len, size_t& n, std::optional<base::Error>& error);
    bool hasBufferedInput() const { return tls_ && tls_->hasBufferedInput(); }
    // Whether the server has sent something a read would return, while a request
    // is still going out (an early answer). Over TLS only application data counts,
    // not the records TLS exchanges by itself.
    bool hasEarlyInput();
    // The request bytes the kernel still holds for this socket, unsent or not yet
    // acknowledged by the peer; capped by the socket's send buffer when the count
    // cannot be had.
    uint64_t queuedOutput() const;

    // An idle kept-alive connection is usable when the server has neither closed
    // it nor sent anything unasked.
    bool isAlive() const;
    // How many requests it carried; a reused connection fails differently.
    int requestCount() const { return requests_; }
    void countRequest() { ++requests_; }

  private:
    int fd_;
    std::unique_ptr<TlsSession> tls_;
    int requests_ = 0;
};

}  // namespace platform::net
