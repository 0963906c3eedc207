#pragma once
// The client side of a SOCKS5 CONNECT (RFC 1928) without authentication: the
// proxy resolves the target's name itself.
#include <cstdint>
#include <optional>
#include <string>

#include "base/Error.h"

namespace platform::net {

class Socks5Handshake {
  public:
    enum class Step { NeedMore, SendRequest, Done, Failed };

    Socks5Handshake(std::string host, uint16_t port);

    // The method greeting; the CONNECT request follows once the proxy picked a
    // method (some proxies read the two only one at a time).
    std::string greeting() const { return std::string{5, 1, 0}; }
    // None when the host cannot be sent (too long).
    std::optional<std::string> request() const;
    // Feeds what the proxy sent; `used` tells how many bytes belonged to it
    // (bytes after the reply already belong to the tunnel). SendRequest means the
    // greeting was answered and the request is due.
    Step consume(const uint8_t* data, size_t n, size_t& used);
    const std::optional<base::Error>& error() const { return error_; }

  private:
    Step fail(const std::string& why);

    std::string host_;
    uint16_t port_;
    std::string received_;
    bool greeted_ = false;
    std::optional<base::Error> error_;
};

}  // namespace platform::net
