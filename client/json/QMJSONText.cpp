#include "client/json/QMJSONText.h"

namespace qmjson {

size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        return 1;
    }
    size_t length;
    unsigned char low = 0x80;   // bounds of the second byte, narrowed to refuse overlong
    unsigned char high = 0xBF;  // forms, surrogates and values above U+10FFFF
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) {
            low = 0xA0;
        }
        if (b0 == 0xED) {
            high = 0x9F;
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) {
            low = 0x90;
        }
        if (b0 == 0xF4) {
            high = 0x8F;
        }
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < length) {
        return 0;
    }
    if (p[1] < low || p[1] > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

void appendUTF8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        const char bytes[] = {static_cast<char>(0xC0 | (cp >> 6)),
                              static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 2);
    } else if (cp < 0x10000) {
        const char bytes[] = {static_cast<char>(0xE0 | (cp >> 12)),
                              static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                              static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 3);
    } else {
        const char bytes[] = {
            static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
            static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 4);
    }
}

}  // namespace qmjson
