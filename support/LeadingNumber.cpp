#include "support/LeadingNumber.h"

#include <charconv>
#include <limits>
#include <string>

namespace owtext {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The index after the leading white space and sign; `negative` says which sign.
size_t skipSpaceAndSign(std::string_view s, bool& negative) {
    size_t i = 0;
    while (i < s.size() && isSpace(s[i])) {
        ++i;
    }
    negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    return i;
}

}  // namespace

int64_t leadingInteger(std::string_view s) {
    bool negative = false;
    int64_t value = 0;
    for (size_t i = skipSpaceAndSign(s, negative); i < s.size() && isDigit(s[i]); ++i) {
        const int digit = s[i] - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) {
            return negative ? std::numeric_limits<int64_t>::min()
                            : std::numeric_limits<int64_t>::max();
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

double leadingDouble(std::string_view s) {
    bool negative = false;
    size_t i = skipSpaceAndSign(s, negative);
    const size_t start = i;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return 0;
    }
    double value = 0;
    const auto [end, error] =
        std::from_chars(s.data() + start, s.data() + i, value, std::chars_format::fixed);
    if (error == std::errc::result_out_of_range) {
        // Too many integer digits overflow; a fraction too small to hold is 0.
        const std::string_view integer =
            s.substr(start, i - start).substr(0, s.find('.', start) - start);
        value = integer.find_first_not_of('0') != std::string_view::npos
                    ? std::numeric_limits<double>::infinity()
                    : 0;
    }
    return negative ? -value : value;
}

}  // namespace owtext
