#include "platform/net/NetCrypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/random.h>

#include <stdexcept>

namespace platform::net::crypto {
namespace {

Bytes digest(const EVP_MD* md, std::string_view data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr);
    out.resize(len);
    return out;
}

}  // namespace

Bytes md5(std::string_view data) {
    return digest(EVP_md5(), data);
}
Bytes sha256(std::string_view data) {
    return digest(EVP_sha256(), data);
}

Bytes hmacMd5(const Bytes& key, const Bytes& data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), data.data(), data.size(), out.data(),
         &len);
    out.resize(len);
    return out;
}

std::string hex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::string base64Encode(std::string_view data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(data.data()),
                            static_cast<int>(data.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

bool base64Decode(std::string_view text, Bytes& out) {
    if (text.size() % 4 != 0 || text.size() > (1u << 20))
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool pad = c == '=' && i + 2 >= text.size();
        if (!std::isalnum(c) && c != '+' && c != '/' && !pad)
            return false;
        if (pad && i + 1 < text.size() && text[i + 1] != '=')
            return false;
    }
    out.assign(text.size() / 4 * 3, 0);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0)
        return false;
    size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        ++padding;
    if (text.size() > 1 && text[text.size() - 2] == '=')
        ++padding;
    out.resize(static_cast<size_t>(n) - padding);
    return true;
}

Bytes randomBytes(size_t n) {
    Bytes out(n);
    size_t got = 0;
    while (got < n) {
        ssize_t r = getrandom(out.data() + got, n - got, 0);
        if (r > 0)
            got += static_cast<size_t>(r);
    }
    return out;
}

}  // namespace platform::net::crypto
