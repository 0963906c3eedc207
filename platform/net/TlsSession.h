#pragma once
// One TLS client session over a non-blocking socket.
#include <sys/types.h>

#include <optional>
#include <string>

#include "base/Error.h"
#include "platform/net/TlsSettings.h"

typedef struct ssl_st SSL;

namespace platform::net {

enum class IoResult { Done, WantRead, WantWrite, Closed, Failed };

class TlsSession {
  public:
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Prepares a session for `host` over `fd`; none (with `error`) on failure.
    static std::unique_ptr<TlsSession> create(int fd, const std::string& host,
                                              const TlsSettings& settings, base::Error& error);

    IoResult handshake();
    // `n` receives the bytes moved when Done.
    IoResult read(void* buf, size_t len, size_t& n);
    IoResult write(const void* buf, size_t len, size_t& n);
    bool hasBufferedInput() const;
    // Whether the server has sent application data that read() would return. Reads
    // from the socket as needed, consuming records that carry none (session tickets,
    // key updates), and takes none of the data.
    bool hasApplicationData();
    const std::optional<base::Error>& error() const { return error_; }

  private:
    TlsSession() = default;
    IoResult translate(int ret, bool handshaking);

    SSL* ssl_ = nullptr;
    std::optional<base::Error> error_;
};

}  // namespace platform::net
