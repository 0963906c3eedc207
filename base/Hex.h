#pragma once
// Hexadecimal digits as the parsers read them (percent escapes, chunk sizes, entity
// references): ASCII only, either case.

namespace base {

// The value of one hex digit, -1 for any other character.
constexpr int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

constexpr bool isHexDigit(char c) {
    return hexValue(c) >= 0;
}

}  // namespace base
