#include "platform/crypto/Digest.h"
#include "platform/crypto/OpenSsl.h"

#include <openssl/evp.h>

#include <cstdlib>

namespace platform::crypto {

namespace {
// OpenSSL without its clean-up at exit, set up before this file first calls it.
[[maybe_unused]] const bool kOpenSslReady = (platform::crypto::initOpenSsl(), true);
}  // namespace

struct Digest::State {
    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

namespace {

// The digests are built into every OpenSSL; failing to set one up means memory ran
// out, which this process cannot recover from in a digest call.
void require(int ok) {
    if (ok != 1) {
        std::abort();
    }
}

const EVP_MD* evpDigest(Digest::Algorithm algorithm) {
    switch (algorithm) {
        case Digest::Algorithm::MD5:
            return EVP_md5();
        case Digest::Algorithm::SHA1:
            return EVP_sha1();
        case Digest::Algorithm::SHA256:
            return EVP_sha256();
        case Digest::Algorithm::SHA512:
            return EVP_sha512();
    }
    std::abort();
}

}  // namespace

Digest::Digest(Algorithm algorithm) : state_(std::make_unique<State>()) {
    require(state_->context != nullptr);
    require(EVP_DigestInit_ex(state_->context, evpDigest(algorithm), nullptr));
}

Digest::~Digest() = default;
Digest::Digest(Digest&&) noexcept = default;
Digest& Digest::operator=(Digest&&) noexcept = default;

void Digest::update(std::span<const uint8_t> bytes) {
    require(EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()));
}

void Digest::update(std::string_view text) {
    require(EVP_DigestUpdate(state_->context, text.data(), text.size()));
}

Bytes Digest::finish() const {
    State copy;
    require(copy.context != nullptr);
    require(EVP_MD_CTX_copy_ex(copy.context, state_->context));
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned length = 0;
    require(EVP_DigestFinal_ex(copy.context, out.data(), &length));
    out.resize(length);
    return out;
}

size_t Digest::length(Algorithm algorithm) {
    return static_cast<size_t>(EVP_MD_get_size(evpDigest(algorithm)));
}

Bytes Digest::of(Algorithm algorithm, std::span<const uint8_t> bytes) {
    Digest digest(algorithm);
    digest.update(bytes);
    return digest.finish();
}

Bytes Digest::of(Algorithm algorithm, std::string_view text) {
    Digest digest(algorithm);
    digest.update(text);
    return digest.finish();
}

std::string Digest::hex(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 0x0f]);
    }
    return out;
}

}  // namespace platform::crypto
