#pragma once
// Byte-level helpers shared by the JSON reader and writer: character classes and strict
// UTF-8 checking (no overlong forms, no encoded surrogates, nothing above U+10FFFF).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qmjson {

// What a byte means inside a string: copied as it is, ends a plain run, or starts a
// multi-byte UTF-8 sequence that must be checked.
enum class ByteClass : uint8_t { Plain, Stop, Lead };

// Inside a string a run stops at the double quote, the backslash and every control byte.
constexpr std::array<ByteClass, 256> kStringBytes = [] {
    std::array<ByteClass, 256> table{};
    for (int b = 0; b < 256; ++b) {
        bool stop = b < 0x20 || b == '"' || b == '\\';
        table[b] = stop ? ByteClass::Stop : b >= 0x80 ? ByteClass::Lead : ByteClass::Plain;
    }
    return table;
}();

// The C library's space class: space, tab, line feed, vertical tab, form feed, return.
constexpr std::array<bool, 256> kSpaceBytes = [] {
    std::array<bool, 256> table{};
    for (unsigned char b : {' ', '\t', '\n', '\v', '\f', '\r'}) {
        table[b] = true;
    }
    return table;
}();

// The first byte from `p` on that ends a plain ASCII run in a string: a quote, a
// backslash, a control byte or a byte of a multi-byte UTF-8 sequence.
inline const unsigned char* plainAsciiEnd(const unsigned char* p, const unsigned char* end) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(0x20);
    while (end - p >= 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Signed comparison: bytes from 0x80 on count as negative and stop too.
        const __m128i stops =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, backslash)),
                         _mm_cmplt_epi8(x, space));
        const int mask = _mm_movemask_epi8(stops);
        if (mask != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
        p += 16;
    }
#endif
    while (p != end && kStringBytes[*p] == ByteClass::Plain) {
        ++p;
    }
    return p;
}

// Length of the well-formed UTF-8 sequence starting at `p` (1 to 4), or 0 when the
// bytes up to `end` do not start one.
size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end);

// Appends the UTF-8 form of a code point below 0x110000 that is no surrogate.
void appendUTF8(std::string& out, uint32_t codePoint);

}  // namespace qmjson
