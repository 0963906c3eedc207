// Parses arbitrary text as a URL; whatever parses must print back to the same text,
// resolve against a fixed base and answer the loopback question without crashing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/Url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::optional<base::Url> url = base::Url::parse(text);
    if (!url) {
        return 0;
    }
    if (url->absoluteString() != text) {
        std::abort();
    }
    static const base::Url kBase = *base::Url::parse("http://a/b/c/d;p?q");
    base::Url target = kBase.resolving(*url);
    // A resolved target is absolute and parses back to itself.
    std::optional<base::Url> again = base::Url::parse(target.absoluteString());
    if (!again || !again->isAbsolute() || *again != target) {
        std::abort();
    }
    (void)url->isLoopback();
    (void)url->user();
    (void)url->password();
    (void)url->port();
    return 0;
}
