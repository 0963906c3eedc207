#include "platform/net/Ntlm.h"

#include <cstring>

#include "base/Random.h"
#include "platform/crypto/Base64.h"
#include "platform/crypto/Digest.h"
#include "platform/crypto/Hmac.h"
#include "platform/net/Md4.h"

namespace platform::net::ntlm {
namespace {

constexpr uint32_t kUnicode = 0x00000001, kOem = 0x00000002, kRequestTarget = 0x00000004,
                   kNtlm = 0x00000200, kAlwaysSign = 0x00008000, kExtendedSecurity = 0x00080000,
                   kTargetInfo = 0x00800000, k128 = 0x20000000, k56 = 0x80000000;
constexpr uint16_t kAvEol = 0, kAvTimestamp = 7;
const uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};

void put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t get16(const Bytes& b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t get32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

void append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::optional<uint64_t> serverTimestamp(const Bytes& info) {
    for (size_t at = 0; at + 4 <= info.size();) {
        uint16_t id = get16(info, at), len = get16(info, at + 2);
        if (id == kAvEol || at + 4 + len > info.size())
            break;
        if (id == kAvTimestamp && len == 8) {
            uint64_t t = 0;
            for (int i = 7; i >= 0; --i) t = (t << 8) | info[at + 4 + i];
            return t;
        }
        at += 4 + len;
    }
    return std::nullopt;
}

// A security buffer descriptor (length, maximum length, offset) at `field`.
void describe(Bytes& msg, size_t field, const Bytes& payload) {
    put16(msg, field, static_cast<uint16_t>(payload.size()));
    put16(msg, field + 2, static_cast<uint16_t>(payload.size()));
    put32(msg, field + 4, static_cast<uint32_t>(msg.size()));
    append(msg, payload);
}

}  // namespace

Bytes utf16le(const std::string& s) {
    Bytes out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        if (len == 1) {
            cp = c < 0x80 ? c : 0xFFFD;
        } else if (i + len <= s.size()) {
            cp = c & (0x7F >> len);
            for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            uint16_t hi = 0xD800 | (cp >> 10), lo = 0xDC00 | (cp & 0x3FF);
            out.insert(out.end(), {uint8_t(hi), uint8_t(hi >> 8), uint8_t(lo), uint8_t(lo >> 8)});
        } else {
            out.insert(out.end(), {uint8_t(cp), uint8_t(cp >> 8)});
        }
    }
    return out;
}

Bytes negotiateMessage() {
    Bytes msg(32, 0);
    std::memcpy(msg.data(), kSignature, 8);
    put32(msg, 8, 1);
    put32(msg, 12,
          kUnicode | kOem | kRequestTarget | kNtlm | kAlwaysSign | kExtendedSecurity | k128 | k56);
    return msg;
}

std::optional<Challenge> parseChallenge(const Bytes& m) {
    if (m.size() < 32 || std::memcmp(m.data(), kSignature, 8) != 0 || get32(m, 8) != 2) {
        return std::nullopt;
    }
    Challenge c;
    c.flags = get32(m, 20);
    std::memcpy(c.serverChallenge.data(), m.data() + 24, 8);
    if (m.size() >= 48 && (c.flags & kTargetInfo)) {
        uint16_t len = get16(m, 40);
        uint32_t offset = get32(m, 44);
        if (uint64_t(offset) + len > m.size())
            return std::nullopt;
        c.targetInfo.assign(m.begin() + offset, m.begin() + offset + len);
    }
    return c;
}

Bytes ntowfV2(const std::string& password, const std::string& user, const std::string& domain) {
    Bytes unicodePassword = utf16le(password);
    auto nt = md4(std::string_view(reinterpret_cast<const char*>(unicodePassword.data()),
                                   unicodePassword.size()));
    Bytes key(nt.begin(), nt.end());
    return crypto::Hmac::md5(key, utf16le(upper(user) + domain));
}

V2Responses computeV2(const Bytes& key, const std::array<uint8_t, 8>& serverChallenge,
                      const std::array<uint8_t, 8>& clientChallenge, uint64_t timestamp,
                      const Bytes& targetInfo) {
    Bytes blob = {1, 1, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i) blob.push_back(static_cast<uint8_t>(timestamp >> (8 * i)));
    blob.insert(blob.end(), clientChallenge.begin(), clientChallenge.end());
    blob.insert(blob.end(), 4, 0);
    append(blob, targetInfo);
    blob.insert(blob.end(), 4, 0);

    Bytes proofInput(serverChallenge.begin(), serverChallenge.end());
    append(proofInput, blob);
    Bytes proof = crypto::Hmac::md5(key, proofInput);

    V2Responses r;
    r.ntResponse = proof;
    append(r.ntResponse, blob);
    Bytes lmInput(serverChallenge.begin(), serverChallenge.end());
    lmInput.insert(lmInput.end(), clientChallenge.begin(), clientChallenge.end());
    r.lmResponse = crypto::Hmac::md5(key, lmInput);
    r.lmResponse.insert(r.lmResponse.end(), clientChallenge.begin(), clientChallenge.end());
    r.sessionBaseKey = crypto::Hmac::md5(key, proof);
    return r;
}

Bytes authenticateMessage(const Challenge& challenge, const HttpCredentials& credentials,
                          const std::string& workstation,
                          const std::array<uint8_t, 8>& clientChallenge, uint64_t timestamp) {
    Bytes key = ntowfV2(credentials.password, credentials.user, credentials.domain);
    uint64_t time = serverTimestamp(challenge.targetInfo).value_or(timestamp);
    V2Responses r =
        computeV2(key, challenge.serverChallenge, clientChallenge, time, challenge.targetInfo);
    Bytes msg(64, 0);
    std::memcpy(msg.data(), kSignature, 8);
    put32(msg, 8, 3);
    describe(msg, 28, utf16le(credentials.domain));
    describe(msg, 36, utf16le(credentials.user));
    describe(msg, 44, utf16le(workstation));
    describe(msg, 12, r.lmResponse);
    describe(msg, 20, r.ntResponse);
    describe(msg, 52, Bytes{});
    uint32_t flags = kUnicode | kRequestTarget | kNtlm | kAlwaysSign |
                     (challenge.flags & (kExtendedSecurity | kTargetInfo | k128 | k56));
    put32(msg, 60, flags);
    return msg;
}

}  // namespace platform::net::ntlm
