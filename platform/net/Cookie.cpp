#include "platform/net/Cookie.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

#include "platform/net/HttpDate.h"
#include "platform/net/NetText.h"

namespace platform::net {
namespace {

using text::lower;
using text::trim;

bool isIpAddress(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

bool domainMatches(const std::string& host, const std::string& domain) {
    if (host == domain)
        return true;
    return !isIpAddress(host) && host.size() > domain.size() &&
           host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
           host[host.size() - domain.size() - 1] == '.';
}

bool pathMatches(const std::string& requestPath, const std::string& cookiePath) {
    if (requestPath == cookiePath)
        return true;
    if (requestPath.rfind(cookiePath, 0) != 0)
        return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

std::string defaultPath(const Url& url) {
    const std::string& p = url.path();
    if (p.empty() || p[0] != '/')
        return "/";
    size_t slash = p.rfind('/');
    return slash == 0 ? "/" : p.substr(0, slash);
}

bool hasControl(std::string_view s) {
    return std::any_of(s.begin(), s.end(),
                       [](unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7f; });
}

void applyAttribute(Cookie& c, const std::string& name, const std::string& value, double now,
                    std::optional<double>& maxAge, std::optional<double>& expires,
                    std::optional<std::string>& domain, std::optional<std::string>& path) {
    std::string key = lower(name);
    if (key == "expires") {
        if (auto t = HttpDate::parse(value))
            expires = t;
    } else if (key == "max-age") {
        long long seconds = 0;
        const char* b = value.data();
        bool negative = !value.empty() && value[0] == '-';
        auto [end, ec] = std::from_chars(b + negative, b + value.size(), seconds);
        if (value.size() > size_t(negative) && ec == std::errc() && end == b + value.size()) {
            maxAge = seconds <= 0 || negative ? -1e300 : now + static_cast<double>(seconds);
        } else if (ec == std::errc::result_out_of_range && !negative) {
            maxAge = 1e300;
        }
    } else if (key == "domain") {
        std::string d = lower(value);
        if (!d.empty() && d[0] == '.')
            d.erase(0, 1);
        if (!d.empty())
            domain = d;
    } else if (key == "path") {
        // The last Path counts; one that is empty or not absolute asks for the default.
        path = !value.empty() && value[0] == '/' ? value : "";
    } else if (key == "secure") {
        c.secure = true;
    } else if (key == "httponly") {
        c.httpOnly = true;
    }
}

}  // namespace

bool Cookie::matches(const Url& url, double now) const {
    if (isExpired(now))
        return false;
    if (secure && !url.isSecure())
        return false;
    bool hostOk = hostOnly ? url.host() == domain : domainMatches(url.host(), domain);
    return hostOk && pathMatches(url.path().empty() ? "/" : url.path(), path);
}

std::optional<Cookie> Cookie::parse(const std::string& setCookie, const Url& from, double now) {
    if (hasControl(setCookie))
        return std::nullopt;
    size_t semi = setCookie.find(';');
    std::string pair = setCookie.substr(0, semi);
    size_t eq = pair.find('=');
    if (eq == std::string::npos)
        return std::nullopt;
    Cookie c;
    c.name = trim(std::string_view(pair).substr(0, eq));
    c.value = trim(std::string_view(pair).substr(eq + 1));
    if (c.name.empty() || c.name.size() + c.value.size() > kMaxNameValueBytes)
        return std::nullopt;
    c.created = now;

    std::optional<double> maxAge, expires;
    std::optional<std::string> domain, path;
    while (semi != std::string::npos) {
        size_t next = setCookie.find(';', semi + 1);
        std::string_view av = std::string_view(setCookie).substr(semi + 1, next - semi - 1);
        size_t aeq = av.find('=');
        applyAttribute(c, trim(av.substr(0, aeq)),
                       aeq == std::string_view::npos ? "" : trim(av.substr(aeq + 1)), now, maxAge,
                       expires, domain, path);
        semi = next;
    }
    c.expires = maxAge ? maxAge : expires;

    if (domain) {
        // A domain cookie must cover the host that set it, and must not be set on a
        // bare top-level name: a host of one label naming itself keeps the cookie to
        // itself. A host naming itself otherwise shares it with its subdomains.
        bool singleLabel = domain->find('.') == std::string::npos;
        if (!domainMatches(from.host(), *domain) || (singleLabel && *domain != from.host())) {
            return std::nullopt;
        }
        c.domain = *domain;
        c.hostOnly = singleLabel;
    } else {
        c.domain = from.host();
        c.hostOnly = true;
    }
    c.path = path && !path->empty() ? *path : defaultPath(from);
    if (c.secure && !from.isSecure())
        return std::nullopt;  // only secure origins set those
    return c;
}

std::vector<Cookie> Cookie::parseAll(const HttpHeaders& headers, const Url& from, double now) {
    std::vector<Cookie> out;
    for (const std::string& field : headers.values("Set-Cookie")) {
        if (auto c = parse(field, from, now))
            out.push_back(std::move(*c));
    }
    return out;
}

}  // namespace platform::net
