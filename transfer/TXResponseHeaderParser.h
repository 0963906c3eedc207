#pragma once
// The header values the request reads itself: the media type and character set of
// "Content-Type", a decimal "Content-Length", the "Keep-Alive" timeout and max,
// the "max-age" of "Cache-Control" and RFC 1123 dates. Every function takes text
// straight from a server, caps what it looks at and answers none for what it
// cannot read.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class TXResponseHeaderParser {
  public:
    // Longer values are not read at all.
    static constexpr size_t kMaxValueLength = 8192;

    struct ContentType {
        std::string mimeType;  // up to the first ";", trimmed
        std::string charset;   // after "charset=" up to the next ";", unquoted; may be empty
    };
    static ContentType parseContentType(std::string_view value);
    // Decimal digits only (optionally surrounded by blanks): "010" is ten.
    static std::optional<uint64_t> parseContentLength(std::string_view value);

    struct KeepAlive {
        std::optional<long> timeout, max;
    };
    // "timeout=5, max=100"; each number in the range of a long or absent.
    static KeepAlive parseKeepAlive(std::string_view value);
    // The "max-age" of a "Cache-Control" value, in seconds; none without one.
    static std::optional<double> parseMaxAge(std::string_view value);
    // "Sun, 06 Nov 1994 08:49:37 GMT", also without the weekday or the seconds;
    // seconds since 1970 UTC.
    static std::optional<double> parseRFC1123Date(std::string_view value);
};
