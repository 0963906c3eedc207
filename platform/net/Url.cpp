#include "platform/net/Url.h"

#include "platform/net/NetText.h"

namespace platform::net {

std::optional<Url> Url::from(const base::Url& source) {
    if (!source.isAbsolute() || !source.hasAuthority() || source.host().empty()) {
        return std::nullopt;
    }
    Url url;
    url.scheme_ = text::lower(source.scheme());
    url.host_ = text::lower(source.host());
    if (auto port = source.port()) {
        if (*port == 0) {
            return std::nullopt;
        }
        url.port_ = *port;
    }
    if (auto user = source.user()) {
        url.hasUserInfo_ = true;
        url.user_ = *user;
        url.password_ = source.password().value_or("");
    }
    url.path_ = source.path();
    if (source.query()) {
        url.hasQuery_ = true;
        url.query_ = *source.query();
    }
    return url;
}

std::optional<Url> Url::parse(std::string_view text) {
    auto url = base::Url::parse(text);
    return url ? from(*url) : std::nullopt;
}

uint16_t Url::defaultPort(std::string_view scheme) {
    if (scheme == "http")
        return 80;
    if (scheme == "https")
        return 443;
    if (scheme == "socks" || scheme == "socks5" || scheme == "socks5h")
        return 1080;
    return 0;
}

uint16_t Url::effectivePort() const {
    return port_ != 0 ? port_ : defaultPort(scheme_);
}

std::string Url::pathAndQuery() const {
    std::string out = path_.empty() ? "/" : path_;
    if (hasQuery_)
        out += "?" + query_;
    return out;
}

std::string Url::authority() const {
    std::string out = isIpv6Literal() ? "[" + host_ + "]" : host_;
    if (port_ != 0 && port_ != defaultPort(scheme_))
        out += ":" + std::to_string(port_);
    return out;
}

std::string Url::hostAndPort() const {
    std::string out = isIpv6Literal() ? "[" + host_ + "]" : host_;
    return out + ":" + std::to_string(effectivePort());
}

std::string Url::absoluteString() const {
    return scheme_ + "://" + authority() + pathAndQuery();
}

}  // namespace platform::net
