#pragma once
// Base64 in the standard alphabet with "=" padding and no line breaks.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/crypto/Digest.h"

namespace platform::crypto {

class Base64 {
  public:
    static std::string encode(std::span<const uint8_t> bytes);
    static std::string encode(std::string_view text);
    // None for anything that is not canonical padded base64: characters outside the
    // alphabet, whitespace, a length that is not a multiple of four, misplaced
    // padding or non-zero bits left over in the last character.
    static std::optional<Bytes> decode(std::string_view text);
};

}  // namespace platform::crypto
