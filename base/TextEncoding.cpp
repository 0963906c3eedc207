#include "base/TextEncoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace base {
namespace {

class IconvHandle {
  public:
    IconvHandle(const std::string& to, const std::string& from)
        : handle_(iconv_open(to.c_str(), from.c_str())) {}
    ~IconvHandle() {
        if (valid()) {
            iconv_close(handle_);
        }
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    // (iconv_t)-1 is how iconv_open() reports failure.
    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }  // NOLINT
    iconv_t get() const { return handle_; }

  private:
    iconv_t handle_;
};

// Runs iconv over all of `input`, growing the output as needed. Any invalid or
// unconvertible sequence fails the whole conversion.
std::optional<std::string> run(iconv_t handle, std::string_view input) {
    std::string output(input.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    size_t used = 0;
    bool flushing = false;
    for (;;) {
        char* out = output.data() + used;
        size_t outLeft = output.size() - used;
        // A null input flushes any shift state at the end (stateful encodings).
        size_t result = flushing ? iconv(handle, nullptr, nullptr, &out, &outLeft)
                                 : iconv(handle, &in, &inLeft, &out, &outLeft);
        used = output.size() - outLeft;
        if (result != static_cast<size_t>(-1)) {
            if (flushing) {
                break;
            }
            flushing = true;
            continue;
        }
        if (errno != E2BIG) {
            return std::nullopt;  // EILSEQ or EINVAL (truncated sequence)
        }
        output.resize(output.size() * 2);
    }
    output.resize(used);
    return output;
}

}  // namespace

std::optional<std::string> TextEncoding::convert(std::string_view bytes, const std::string& from,
                                                 const std::string& to) {
    // Suffixes such as "//TRANSLIT" or "//IGNORE" would make iconv approximate or drop
    // characters behind the caller's back.
    if (from.find('/') != std::string::npos || to.find('/') != std::string::npos) {
        return std::nullopt;
    }
    IconvHandle handle(to, from);
    if (!handle.valid()) {
        return std::nullopt;
    }
    return run(handle.get(), bytes);
}

std::optional<std::string> TextEncoding::toUtf8(std::string_view bytes,
                                                const std::string& encoding) {
    std::optional<std::string> text = convert(bytes, encoding, "UTF-8");
    if (text && !isValidUtf8(*text)) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::string> TextEncoding::fromUtf8(std::string_view text,
                                                  const std::string& encoding) {
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    return convert(text, "UTF-8", encoding);
}

bool TextEncoding::isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<uint8_t>(text[i]);
        if (byte < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t code;
        uint32_t minimum;
        if ((byte & 0xe0) == 0xc0) {
            length = 2, code = byte & 0x1f, minimum = 0x80;
        } else if ((byte & 0xf0) == 0xe0) {
            length = 3, code = byte & 0x0f, minimum = 0x800;
        } else if ((byte & 0xf8) == 0xf0) {
            length = 4, code = byte & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xc0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3f);
        }
        if (code < minimum || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace base
