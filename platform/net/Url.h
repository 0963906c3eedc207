#pragma once
// The transport's view of a suite URL (base::Url, the one parser and the one URL
// type): an absolute http, https, socks or file address with what a request line, a
// Host header and a connection key use, normalised. Only made from a base::Url.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/Url.h"

namespace platform::net {

class Url {
  public:
    // The view of `url`: the scheme and host lower-cased, user and password
    // percent-decoded, the fragment dropped. None without a scheme or host, or with
    // port 0.
    static std::optional<Url> from(const base::Url& url);
    // base::Url::parse() followed by from(): "scheme://[user[:password]@]host[:port]
    // [/path][?query][#fragment]"; texts with controls or spaces are no URL at all.
    static std::optional<Url> parse(std::string_view text);

    const std::string& scheme() const { return scheme_; }
    const std::string& host() const { return host_; }  // IPv6 literals without brackets
    uint16_t port() const { return port_; }            // 0 when the address names none
    uint16_t effectivePort() const;                    // the scheme's default for 0
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    bool hasUserInfo() const { return hasUserInfo_; }
    // Path and query as sent in a request line; "/" when the address has no path.
    std::string pathAndQuery() const;
    const std::string& path() const { return path_; }
    bool isSecure() const { return scheme_ == "https"; }
    bool isIpv6Literal() const { return host_.find(':') != std::string::npos; }

    // "host" or "host:port", IPv6 bracketed, default ports left out: the Host header.
    std::string authority() const;
    // "host:port" always with the port: the CONNECT target.
    std::string hostAndPort() const;
    // The address without user info and fragment: the absolute request form.
    std::string absoluteString() const;

    static uint16_t defaultPort(std::string_view scheme);

  private:
    std::string scheme_, host_, user_, password_, path_, query_;
    uint16_t port_ = 0;
    bool hasUserInfo_ = false;
    bool hasQuery_ = false;
};

}  // namespace platform::net
