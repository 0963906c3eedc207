#include "platform/net/ProxyEntry.h"

#include <algorithm>
#include <charconv>

#include "platform/net/HttpHeaders.h"

namespace platform::net {
namespace {

std::string_view trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool splitHostPort(std::string_view text, std::string& host, uint16_t& port) {
    size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    std::string_view h = text.substr(0, colon), p = text.substr(colon + 1);
    if (h.front() == '[' && h.back() == ']')
        h = h.substr(1, h.size() - 2);
    unsigned value = 0;
    auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), value);
    if (ec != std::errc() || end != p.data() + p.size() || value == 0 || value > 65535 ||
        h.empty()) {
        return false;
    }
    host = std::string(h);
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

std::string ProxyEntry::describe() const {
    if (type == Type::Direct)
        return "DIRECT";
    std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return h + ":" + std::to_string(port);
}

std::vector<ProxyEntry> ProxyEntry::parsePacResult(std::string_view result) {
    std::vector<ProxyEntry> out;
    size_t start = 0;
    while (start <= result.size() && out.size() < 16) {
        size_t semi = result.find(';', start);
        std::string_view item = trim(result.substr(start, semi - start));
        size_t space = item.find_first_of(" \t");
        std::string_view kind = item.substr(0, space);
        std::string_view where = space == std::string_view::npos ? "" : trim(item.substr(space));
        ProxyEntry e;
        if (HttpHeaders::equalsIgnoringCase(kind, "DIRECT")) {
            out.push_back(e);
        } else if (HttpHeaders::equalsIgnoringCase(kind, "PROXY") ||
                   HttpHeaders::equalsIgnoringCase(kind, "HTTP")) {
            e.type = Type::Http;
            if (splitHostPort(where, e.host, e.port))
                out.push_back(e);
        } else if (HttpHeaders::equalsIgnoringCase(kind, "SOCKS") ||
                   HttpHeaders::equalsIgnoringCase(kind, "SOCKS5")) {
            e.type = Type::Socks;
            if (splitHostPort(where, e.host, e.port))
                out.push_back(e);
        }
        if (semi == std::string_view::npos)
            break;
        start = semi + 1;
    }
    if (out.empty())
        out.push_back(ProxyEntry{});
    return out;
}

}  // namespace platform::net
