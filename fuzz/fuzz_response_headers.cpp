// Header values of any shape through the engine's own readers: none may crash,
// read past its cap or answer something impossible.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "transfer/TXResponseHeaderParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    using P = TXResponseHeaderParser;
    auto type = P::parseContentType(text);
    if (type.mimeType.size() > text.size() || type.charset.size() > text.size())
        abort();
    if (auto n = P::parseContentLength(text); n && text.find_first_of("+-xX") != std::string::npos)
        abort();  // decimal digits only
    P::parseKeepAlive(text);
    if (auto age = P::parseMaxAge(text); age && *age < 0)
        abort();
    if (auto date = P::parseRFC1123Date(text); date && text.size() > 64)
        abort();
    return 0;
}
