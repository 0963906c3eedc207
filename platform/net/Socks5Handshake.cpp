#include "platform/net/Socks5Handshake.h"

#include <arpa/inet.h>

#include "platform/net/NetError.h"

namespace platform::net {

Socks5Handshake::Socks5Handshake(std::string host, uint16_t port)
    : host_(std::move(host)), port_(port) {}

std::optional<std::string> Socks5Handshake::request() const {
    std::string out = {5, 1, 0};  // version 5, CONNECT, reserved
    unsigned char v4[4], v6[16];
    if (inet_pton(AF_INET, host_.c_str(), v4) == 1) {
        out += char(1);
        out.append(reinterpret_cast<char*>(v4), 4);
    } else if (inet_pton(AF_INET6, host_.c_str(), v6) == 1) {
        out += char(4);
        out.append(reinterpret_cast<char*>(v6), 16);
    } else {
        if (host_.empty() || host_.size() > 255)
            return std::nullopt;
        out += char(3);
        out += static_cast<char>(host_.size());
        out += host_;
    }
    out += static_cast<char>(port_ >> 8);
    out += static_cast<char>(port_ & 0xff);
    return out;
}

Socks5Handshake::Step Socks5Handshake::fail(const std::string& why) {
    error_ = httpError(kHttpBadProxyReply, "SOCKS proxy: " + why);
    return Step::Failed;
}

Socks5Handshake::Step Socks5Handshake::consume(const uint8_t* data, size_t n, size_t& used) {
    used = 0;
    while (used < n) {
        received_.push_back(static_cast<char>(data[used++]));
        auto at = [&](size_t i) { return static_cast<uint8_t>(received_[i]); };
        if (!greeted_) {
            if (received_.size() < 2)
                continue;
            if (at(0) != 5)
                return fail("not a SOCKS5 proxy");
            if (at(1) != 0)
                return fail("it requires an authentication method we do not offer");
            greeted_ = true;
            received_.clear();
            return Step::SendRequest;
        }
        if (received_.size() < 5)
            continue;
        if (at(0) != 5)
            return fail("malformed reply");
        if (at(1) != 0) {
            static const char* reasons[] = {"",
                                            "general failure",
                                            "connection not allowed by ruleset",
                                            "network unreachable",
                                            "host unreachable",
                                            "connection refused",
                                            "TTL expired",
                                            "command not supported",
                                            "address type not supported"};
            return fail(at(1) < 9 ? reasons[at(1)] : "unknown failure");
        }
        size_t addr = at(3) == 1 ? 4 : at(3) == 4 ? 16 : at(3) == 3 ? size_t(at(4)) + 1 : 0;
        if (addr == 0)
            return fail("malformed reply");
        // version, status, reserved, type, address (the domain form counts its
        // length byte), port
        if (received_.size() < 4 + addr + 2)
            continue;
        return Step::Done;
    }
    return Step::NeedMore;
}

}  // namespace platform::net
