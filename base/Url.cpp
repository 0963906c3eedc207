#include "base/Url.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/Hex.h"

namespace base {
namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(char c) {
    return std::strchr("!$&'()*+,;=", c) != nullptr && c != '\0';
}
bool isPchar(char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@';
}

// True when every character is allowed by `allowed` or is part of a well-formed
// percent escape.
template <class Pred>
bool allEncoded(std::string_view text, Pred allowed) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) {
                return false;
            }
            i += 2;
        } else if (!allowed(text[i])) {
            return false;
        }
    }
    return true;
}

bool isQueryOrFragmentChar(char c) {
    return isPchar(c) || c == '/' || c == '?';
}
bool isPathChar(char c) {
    return isPchar(c) || c == '/';
}
bool isUserInfoChar(char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':';
}
bool isRegNameChar(char c) {
    return isUnreserved(c) || isSubDelim(c);
}

bool isScheme(std::string_view text) {
    if (text.empty() || !isAlpha(text.front())) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) {
        return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.';
    });
}

// IPvFuture: "v" 1*HEXDIG "." 1*( unreserved / sub-delims / ":" ).
bool isIpFuture(std::string_view text) {
    if (text.size() < 4 || (text[0] != 'v' && text[0] != 'V')) {
        return false;
    }
    size_t dot = text.find('.');
    if (dot == std::string_view::npos || dot < 2 || dot + 1 == text.size()) {
        return false;
    }
    return std::all_of(text.begin() + 1, text.begin() + static_cast<ptrdiff_t>(dot), isHexDigit) &&
           std::all_of(text.begin() + static_cast<ptrdiff_t>(dot) + 1, text.end(),
                       [](char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; });
}

bool parseIpv6(std::string_view text, in6_addr* out) {
    if (text.size() > INET6_ADDRSTRLEN) {
        return false;
    }
    std::string copy(text);
    return inet_pton(AF_INET6, copy.c_str(), out) == 1;
}

// A dotted quad in the RFC's strict form (no leading zeros, each part 0-255).
std::optional<uint32_t> parseIpv4(std::string_view text) {
    uint32_t address = 0;
    int parts = 0;
    size_t i = 0;
    while (parts < 4) {
        size_t start = i;
        unsigned value = 0;
        while (i < text.size() && isDigit(text[i]) && i - start < 3) {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
        }
        size_t length = i - start;
        if (length == 0 || value > 255 || (length > 1 && text[start] == '0')) {
            return std::nullopt;
        }
        address = (address << 8) | value;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.') {
                return std::nullopt;
            }
            ++i;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return address;
}

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string_view input) {
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.remove_prefix(3);
        } else if (input.starts_with("./") || input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../") || input == "/..") {
            input = input.size() == 3 ? std::string_view("/") : input.substr(3);
            size_t slash = output.rfind('/');
            output.erase(slash == std::string::npos ? 0 : slash);
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            size_t next = input.find('/', input.front() == '/' ? 1 : 0);
            size_t length = next == std::string_view::npos ? input.size() : next;
            output.append(input.substr(0, length));
            input.remove_prefix(length);
        }
    }
    return output;
}

}  // namespace

class UrlParser {
  public:
    static std::optional<Url> parse(std::string_view text);

  private:
    static bool parseAuthority(std::string_view text, Url::Authority* out);
    static bool parseHost(std::string_view text, Url::Authority* out);
};

std::optional<Url> UrlParser::parse(std::string_view text) {
    if (text.size() > Url::kMaxLength) {
        return std::nullopt;
    }
    Url url;
    if (size_t hash = text.find('#'); hash != std::string_view::npos) {
        std::string_view fragment = text.substr(hash + 1);
        if (!allEncoded(fragment, isQueryOrFragmentChar)) {
            return std::nullopt;
        }
        url.fragment_ = std::string(fragment);
        text = text.substr(0, hash);
    }
    if (size_t question = text.find('?'); question != std::string_view::npos) {
        std::string_view query = text.substr(question + 1);
        if (!allEncoded(query, isQueryOrFragmentChar)) {
            return std::nullopt;
        }
        url.query_ = std::string(query);
        text = text.substr(0, question);
    }
    size_t colon = text.find(':');
    size_t slash = text.find('/');
    if (colon != std::string_view::npos && colon < slash) {
        // A colon before the first slash either ends a scheme or makes the text no URL
        // (a relative path's first segment may not hold a colon).
        if (!isScheme(text.substr(0, colon))) {
            return std::nullopt;
        }
        url.scheme_ = std::string(text.substr(0, colon));
        text = text.substr(colon + 1);
    }
    if (text.starts_with("//")) {
        text.remove_prefix(2);
        size_t end = text.find('/');
        Url::Authority authority;
        if (!parseAuthority(text.substr(0, end), &authority)) {
            return std::nullopt;
        }
        url.authority_ = std::move(authority);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end);
    }
    if (!allEncoded(text, isPathChar)) {
        return std::nullopt;
    }
    url.path_ = std::string(text);
    return url;
}

bool UrlParser::parseAuthority(std::string_view text, Url::Authority* out) {
    if (size_t at = text.find('@'); at != std::string_view::npos) {
        std::string_view userInfo = text.substr(0, at);
        if (!allEncoded(userInfo, isUserInfoChar)) {
            return false;
        }
        out->userInfo = std::string(userInfo);
        text = text.substr(at + 1);
    }
    size_t portColon = std::string_view::npos;
    if (text.starts_with("[")) {
        size_t close = text.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') {
                return false;
            }
            portColon = close + 1;
        }
    } else {
        portColon = text.find(':');
    }
    if (portColon != std::string_view::npos) {
        std::string_view port = text.substr(portColon + 1);
        if (!std::all_of(port.begin(), port.end(), isDigit)) {
            return false;
        }
        size_t firstSignificant = port.find_first_not_of('0');
        std::string_view significant =
            firstSignificant == std::string_view::npos ? "" : port.substr(firstSignificant);
        if (significant.size() > 5 || (significant.size() == 5 && significant > "65535")) {
            return false;
        }
        out->port = std::string(port);
        text = text.substr(0, portColon);
    }
    return parseHost(text, out);
}

bool UrlParser::parseHost(std::string_view text, Url::Authority* out) {
    if (text.starts_with("[")) {
        std::string_view literal = text.substr(1, text.size() - 2);
        in6_addr address{};
        if (!text.ends_with("]") || !(parseIpv6(literal, &address) || isIpFuture(literal))) {
            return false;
        }
        out->host = std::string(literal);
        out->ipLiteral = true;
        return true;
    }
    if (!allEncoded(text, isRegNameChar)) {
        return false;
    }
    out->host = std::string(text);
    return true;
}

std::optional<Url> Url::parse(std::string_view text) {
    return UrlParser::parse(text);
}

std::optional<std::string> Url::user() const {
    if (!authority_ || !authority_->userInfo) {
        return std::nullopt;
    }
    const std::string& info = *authority_->userInfo;
    return percentDecode(std::string_view(info).substr(0, info.find(':')));
}

std::optional<std::string> Url::password() const {
    if (!authority_ || !authority_->userInfo) {
        return std::nullopt;
    }
    const std::string& info = *authority_->userInfo;
    size_t colon = info.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    return percentDecode(std::string_view(info).substr(colon + 1));
}

std::string Url::host() const {
    return authority_ ? authority_->host : std::string();
}

std::optional<uint16_t> Url::port() const {
    if (!authority_ || !authority_->port || authority_->port->empty()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : *authority_->port) {
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 65535) {
            return std::nullopt;
        }
    }
    return static_cast<uint16_t>(value);
}

std::string Url::absoluteString() const {
    std::string out;
    if (!scheme_.empty()) {
        out += scheme_;
        out += ':';
    }
    if (authority_) {
        out += "//";
        if (authority_->userInfo) {
            out += *authority_->userInfo;
            out += '@';
        }
        out += authority_->ipLiteral ? "[" + authority_->host + "]" : authority_->host;
        if (authority_->port) {
            out += ':';
            out += *authority_->port;
        }
    }
    out += path_;
    if (query_) {
        out += '?';
        out += *query_;
    }
    if (fragment_) {
        out += '#';
        out += *fragment_;
    }
    return out;
}

Url Url::resolving(const Url& reference) const {
    Url target;
    if (!reference.scheme_.empty()) {
        target = reference;
        target.path_ = removeDotSegments(reference.path_);
        target.keepPathUnambiguous();
        return target;
    }
    if (reference.authority_) {
        target.authority_ = reference.authority_;
        target.path_ = removeDotSegments(reference.path_);
        target.query_ = reference.query_;
    } else {
        if (reference.path_.empty()) {
            target.path_ = path_;
            target.query_ = reference.query_ ? reference.query_ : query_;
        } else {
            if (reference.path_.front() == '/') {
                target.path_ = removeDotSegments(reference.path_);
            } else {
                // Merge (section 5.2.3): the base path up to its last slash, or "/"
                // when the base has an authority and an empty path.
                std::string merged;
                if (authority_ && path_.empty()) {
                    merged = "/" + reference.path_;
                } else {
                    size_t slash = path_.rfind('/');
                    merged = (slash == std::string::npos ? "" : path_.substr(0, slash + 1)) +
                             reference.path_;
                }
                target.path_ = removeDotSegments(merged);
            }
            target.query_ = reference.query_;
        }
        target.authority_ = authority_;
    }
    target.scheme_ = scheme_;
    target.fragment_ = reference.fragment_;
    target.keepPathUnambiguous();
    return target;
}

// Removing dot segments can leave a path that would read back as something else:
// "//g" without an authority reads as a host, and "a:b" without a scheme as a scheme.
// A leading "/." or "./" keeps the meaning and makes the text parse to the same URL.
void Url::keepPathUnambiguous() {
    if (authority_) {
        return;
    }
    if (path_.starts_with("//")) {
        path_.insert(0, "/.");
    } else if (scheme_.empty() && path_.substr(0, path_.find('/')).find(':') != std::string::npos) {
        path_.insert(0, "./");
    }
}

std::optional<Url> Url::resolving(std::string_view reference) const {
    std::optional<Url> parsed = parse(reference);
    if (!parsed) {
        return std::nullopt;
    }
    return resolving(*parsed);
}

bool Url::isLoopback() const {
    if (!authority_) {
        return false;
    }
    if (authority_->ipLiteral) {
        in6_addr address{};
        if (!parseIpv6(authority_->host, &address)) {
            return false;
        }
        if (IN6_IS_ADDR_LOOPBACK(&address)) {
            return true;
        }
        return IN6_IS_ADDR_V4MAPPED(&address) && address.s6_addr[12] == 127;
    }
    std::optional<std::string> decoded = percentDecode(authority_->host);
    if (!decoded) {
        return false;
    }
    std::string host = *decoded;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (host.ends_with(".")) {
        host.pop_back();  // a fully qualified "localhost." is the same name
    }
    if (host == "localhost" || host.ends_with(".localhost")) {
        return true;
    }
    std::optional<uint32_t> v4 = parseIpv4(host);
    return v4 && (*v4 >> 24) == 127;
}

std::string Url::percentEncode(std::string_view text, std::string_view keep) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (isUnreserved(c) || (c != '\0' && keep.find(c) != std::string_view::npos)) {
            out.push_back(c);
        } else {
            auto byte = static_cast<unsigned char>(c);
            out.push_back('%');
            out.push_back(kDigits[byte >> 4]);
            out.push_back(kDigits[byte & 0x0f]);
        }
    }
    return out;
}

std::optional<std::string> Url::percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
        i += 2;
    }
    return out;
}

}  // namespace base
