#include "platform/crypto/Base64.h"

#include <array>

namespace platform::crypto {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeDecodeTable() {
    std::array<int8_t, 256> table{};
    table.fill(-1);
    for (int i = 0; i < 64; ++i) {
        table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    }
    return table;
}

constexpr std::array<int8_t, 256> kDecode = makeDecodeTable();

}  // namespace

std::string Base64::encode(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out.push_back(kAlphabet[(group >> 18) & 63]);
        out.push_back(kAlphabet[(group >> 12) & 63]);
        out.push_back(kAlphabet[(group >> 6) & 63]);
        out.push_back(kAlphabet[group & 63]);
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t group = bytes[i] << 16;
        if (rest == 2) {
            group |= bytes[i + 1] << 8;
        }
        out.push_back(kAlphabet[(group >> 18) & 63]);
        out.push_back(kAlphabet[(group >> 12) & 63]);
        out.push_back(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string Base64::encode(std::string_view text) {
    return encode(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::optional<Bytes> Base64::decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        size_t padding = 0;
        if (last) {
            padding = (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=');
        }
        uint32_t group = 0;
        for (size_t j = 0; j < 4; ++j) {
            int8_t digit = j < 4 - padding ? kDecode[static_cast<uint8_t>(text[i + j])] : 0;
            if (digit < 0) {
                return std::nullopt;
            }
            group = (group << 6) | static_cast<uint32_t>(digit);
        }
        out.push_back(static_cast<uint8_t>(group >> 16));
        if (padding < 2) {
            out.push_back(static_cast<uint8_t>(group >> 8));
        }
        if (padding < 1) {
            out.push_back(static_cast<uint8_t>(group));
        }
        // Canonical text leaves the bits below the last byte at zero.
        uint32_t leftover = padding == 2 ? (group & 0xffff) : padding == 1 ? (group & 0xff) : 0;
        if (leftover != 0) {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace platform::crypto
