#pragma once
// MD4 (RFC 1320), needed only for the NT password hash of NTLM.
#include <array>
#include <cstdint>
#include <string_view>

namespace platform::net {

std::array<uint8_t, 16> md4(std::string_view data);

}  // namespace platform::net
