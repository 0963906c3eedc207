#include "platform/net/Url.h"

#include <algorithm>
#include <charconv>

#include "platform/net/NetText.h"

namespace platform::net {
namespace {

using text::hexValue;
using text::lower;

std::string percentDecode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool validScheme(std::string_view s) {
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0])))
        return false;
    return std::all_of(s.begin(), s.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '+' || c == '-' || c == '.';
    });
}

bool safeForRequestLine(std::string_view s) {
    return std::none_of(s.begin(), s.end(), [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
}

bool validHost(std::string_view h) {
    return !h.empty() && std::all_of(h.begin(), h.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '%' || c >= 0x80;
    });
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    Url url;
    size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string_view::npos || !validScheme(text.substr(0, schemeEnd))) {
        return std::nullopt;
    }
    url.scheme_ = lower(text.substr(0, schemeEnd));
    std::string_view rest = text.substr(schemeEnd + 3);
    if (size_t hash = rest.find('#'); hash != std::string_view::npos)
        rest = rest.substr(0, hash);
    if (!safeForRequestLine(rest))
        return std::nullopt;

    size_t authEnd = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, authEnd);
    std::string_view tail = authEnd == std::string_view::npos ? "" : rest.substr(authEnd);

    if (size_t at = authority.rfind('@'); at != std::string_view::npos) {
        std::string_view info = authority.substr(0, at);
        size_t colon = info.find(':');
        url.user_ = percentDecode(info.substr(0, colon));
        if (colon != std::string_view::npos)
            url.password_ = percentDecode(info.substr(colon + 1));
        url.hasUserInfo_ = true;
        authority = authority.substr(at + 1);
    }

    std::string_view portText;
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        std::string_view literal = authority.substr(1, close - 1);
        if (literal.empty() ||
            literal.find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos) {
            return std::nullopt;
        }
        url.host_ = lower(literal);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':')
                return std::nullopt;
            portText = after.substr(1);
        }
    } else {
        size_t colon = authority.rfind(':');
        std::string_view host = authority.substr(0, colon);
        if (colon != std::string_view::npos)
            portText = authority.substr(colon + 1);
        if (!validHost(host))
            return std::nullopt;
        url.host_ = lower(host);
    }
    if (!portText.empty()) {
        unsigned value = 0;
        auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
        if (ec != std::errc() || end != portText.data() + portText.size() || value == 0 ||
            value > 65535) {
            return std::nullopt;
        }
        url.port_ = static_cast<uint16_t>(value);
    }

    size_t q = tail.find('?');
    url.path_ = std::string(tail.substr(0, q));
    if (q != std::string_view::npos) {
        url.hasQuery_ = true;
        url.query_ = std::string(tail.substr(q + 1));
    }
    return url;
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
