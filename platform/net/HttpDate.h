#pragma once
// HTTP dates without any locale: RFC 1123 output, and input in any of the forms
// servers send (RFC 1123, RFC 850, asctime), read with the lenient cookie-date
// rules of RFC 6265 §5.1.1.
#include <optional>
#include <string>
#include <string_view>

namespace platform::net {

class HttpDate {
  public:
    // Seconds since 1970-01-01 UTC; none for a text that is no date.
    static std::optional<double> parse(std::string_view text);
    // "Sun, 06 Nov 1994 08:49:37 GMT".
    static std::string format(double secondsSince1970);
};

}  // namespace platform::net
