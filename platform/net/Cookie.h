#pragma once
// One cookie as RFC 6265 stores it, and the Set-Cookie parser that makes it for
// the address the response came from.
#include <optional>
#include <string>
#include <vector>

#include "platform/net/HttpHeaders.h"
#include "platform/net/Url.h"

namespace platform::net {

struct Cookie {
    std::string name;
    std::string value;
    std::string domain;  // lower case, no leading dot
    std::string path;
    std::optional<double> expires;  // seconds since 1970; none for a session cookie
    bool secure = false;
    bool httpOnly = false;
    bool hostOnly = true;  // sent to `domain` exactly, not to its subdomains
    double created = 0;

    bool isExpired(double now) const { return expires && *expires <= now; }
    bool sameIdentity(const Cookie& o) const {
        return name == o.name && domain == o.domain && path == o.path;
    }
    bool matches(const Url& url, double now) const;

    static constexpr size_t kMaxNameValueBytes = 4096;
    // None when the header is malformed or names a domain the address may not set.
    static std::optional<Cookie> parse(const std::string& setCookie, const Url& from, double now);
    // Every acceptable Set-Cookie field of a response, in order.
    static std::vector<Cookie> parseAll(const HttpHeaders& headers, const Url& from, double now);
};

}  // namespace platform::net
