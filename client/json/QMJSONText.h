#pragma once
// Byte-level helpers shared by the JSON reader and writer: character classes and strict
// UTF-8 checking (no overlong forms, no encoded surrogates, nothing above U+10FFFF).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// Length of the well-formed UTF-8 sequence starting at `p` (1 to 4), or 0 when the
// bytes up to `end` do not start one.
size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end);

// Appends the UTF-8 form of a code point below 0x110000 that is no surrogate.
void appendUTF8(std::string& out, uint32_t codePoint);

}  // namespace qmjson
