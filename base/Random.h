#pragma once
// Randomness from the operating system's CSPRNG, for names, nonces and state values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace base {

// `n` characters drawn uniformly from "abcdefghijklmnopqrstuvwxyz0123456789".
std::string randomString(size_t n);
// `n` random bytes.
std::vector<uint8_t> randomBytes(size_t n);
// A fresh random UUID in upper case, "XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX".
std::string uuidString();

}  // namespace base
