#include "base/Random.h"

#include <sys/random.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace base {
namespace {

constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";

// Fills `buffer` from the kernel's CSPRNG. getrandom() only fails on bad arguments or
// before the pool is seeded, where it blocks; a failure here means the process cannot
// produce safe names at all, so it stops rather than carry on with weak ones.
void fill(uint8_t* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t got = getrandom(buffer + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::abort();
        }
        done += static_cast<size_t>(got);
    }
}

}  // namespace

std::vector<uint8_t> randomBytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    if (n > 0) {
        fill(bytes.data(), n);
    }
    return bytes;
}

std::string randomString(size_t n) {
    // Bytes at or above the largest multiple of the alphabet size are thrown away, so
    // every character is equally likely (252 = 7 * 36).
    constexpr unsigned kLimit = 256 - 256 % kAlphabet.size();
    std::string out;
    out.reserve(n);
    uint8_t pool[64];
    while (out.size() < n) {
        fill(pool, sizeof pool);
        for (uint8_t byte : pool) {
            if (byte < kLimit && out.size() < n) {
                out.push_back(kAlphabet[byte % kAlphabet.size()]);
            }
        }
    }
    return out;
}

std::string uuidString() {
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_upper(uuid, text);
    return text;
}

}  // namespace base
