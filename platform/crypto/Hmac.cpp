#include "platform/crypto/Hmac.h"
#include "platform/crypto/OpenSsl.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdlib>

namespace platform::crypto {

namespace {
// OpenSSL without its clean-up at exit, set up before this file first calls it.
[[maybe_unused]] const bool kOpenSslReady = (platform::crypto::initOpenSsl(), true);
}  // namespace
namespace {

std::span<const uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

Bytes compute(const EVP_MD* md, std::span<const uint8_t> key, std::span<const uint8_t> message) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned length = 0;
    // OpenSSL wants a non-null key pointer even for an empty key.
    static const uint8_t kEmpty = 0;
    const uint8_t* keyData = key.empty() ? &kEmpty : key.data();
    if (!HMAC(md, keyData, static_cast<int>(key.size()), message.data(), message.size(), out.data(),
              &length)) {
        std::abort();
    }
    out.resize(length);
    return out;
}

}  // namespace

Bytes Hmac::sha1(std::span<const uint8_t> key, std::span<const uint8_t> message) {
    return compute(EVP_sha1(), key, message);
}

Bytes Hmac::sha1(std::string_view key, std::string_view message) {
    return sha1(asBytes(key), asBytes(message));
}

Bytes Hmac::md5(std::span<const uint8_t> key, std::span<const uint8_t> message) {
    return compute(EVP_md5(), key, message);
}

Bytes Hmac::md5(std::string_view key, std::string_view message) {
    return md5(asBytes(key), asBytes(message));
}

}  // namespace platform::crypto
