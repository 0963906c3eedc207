#pragma once
// Keyed message authentication (HMAC) over SHA-1 or MD5.
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/crypto/Digest.h"

namespace platform::crypto {

class Hmac {
  public:
    static Bytes sha1(std::span<const uint8_t> key, std::span<const uint8_t> message);
    static Bytes sha1(std::string_view key, std::string_view message);
    static Bytes md5(std::span<const uint8_t> key, std::span<const uint8_t> message);
    static Bytes md5(std::string_view key, std::string_view message);
};

}  // namespace platform::crypto
