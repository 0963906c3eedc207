#include "platform/net/Md4.h"

#include <cstring>
#include <vector>

namespace platform::net {
namespace {

inline uint32_t rotl(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}
inline uint32_t f(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) | (~x & z);
}
inline uint32_t g(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) | (x & z) | (y & z);
}
inline uint32_t h(uint32_t x, uint32_t y, uint32_t z) {
    return x ^ y ^ z;
}

void block(uint32_t state[4], const uint8_t* p) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = uint32_t(p[4 * i]) | uint32_t(p[4 * i + 1]) << 8 | uint32_t(p[4 * i + 2]) << 16 |
               uint32_t(p[4 * i + 3]) << 24;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    static const int r1[4] = {3, 7, 11, 19}, r2[4] = {3, 5, 9, 13}, r3[4] = {3, 9, 11, 15};
    for (int i = 0; i < 16; ++i) {
        uint32_t t = a + f(b, c, d) + x[i];
        a = d, d = c, c = b, b = rotl(t, r1[i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        int k = (i % 4) * 4 + i / 4;
        uint32_t t = a + g(b, c, d) + x[k] + 0x5A827999u;
        a = d, d = c, c = b, b = rotl(t, r2[i % 4]);
    }
    static const int order[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (int i = 0; i < 16; ++i) {
        uint32_t t = a + h(b, c, d) + x[order[i]] + 0x6ED9EBA1u;
        a = d, d = c, c = b, b = rotl(t, r3[i % 4]);
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
}

}  // namespace

std::array<uint8_t, 16> md4(std::string_view data) {
    uint32_t state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    std::vector<uint8_t> msg(data.begin(), data.end());
    uint64_t bits = uint64_t(data.size()) * 8;
    msg.push_back(0x80);
    while (msg.size() % 64 != 56) msg.push_back(0);
    for (int i = 0; i < 8; ++i) msg.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    for (size_t off = 0; off < msg.size(); off += 64) block(state, msg.data() + off);
    std::array<uint8_t, 16> out{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<uint8_t>(state[i] >> (8 * j));
    }
    return out;
}

}  // namespace platform::net
