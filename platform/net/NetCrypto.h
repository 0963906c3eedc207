#pragma once
// The digests and encodings the authentication schemes need, over OpenSSL. MD4 is
// ours (Md4.h) because OpenSSL 3 keeps it in a provider that is often not loaded.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::net::crypto {

using Bytes = std::vector<uint8_t>;

Bytes md5(std::string_view data);
Bytes sha256(std::string_view data);
Bytes hmacMd5(const Bytes& key, const Bytes& data);
std::string hex(const Bytes& bytes);
std::string base64Encode(std::string_view data);
// Standard alphabet with padding; none on anything else.
bool base64Decode(std::string_view text, Bytes& out);
// Bytes from the OS random source.
Bytes randomBytes(size_t n);

}  // namespace platform::net::crypto
