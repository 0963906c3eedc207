#pragma once
// Four-character codes: the type codes of descriptors, the keywords of record fields and
// the class and property codes of the scripting dictionary. A code is four bytes read
// as a big-endian number, so 'furl' is 0x6675726C.
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::scripting {

using FourCharCode = uint32_t;

constexpr FourCharCode fourCC(const char (&code)[5]) {
    return (FourCharCode(uint8_t(code[0])) << 24) | (FourCharCode(uint8_t(code[1])) << 16) |
           (FourCharCode(uint8_t(code[2])) << 8) | FourCharCode(uint8_t(code[3]));
}

// The four characters in reading order; bytes outside printable ASCII become '?', so
// a code from outside never writes control characters into a log.
std::string fourCCText(FourCharCode code);
// The code of a four-byte text; none for any other length.
bool parseFourCC(std::string_view text, FourCharCode& code);

// Type codes.
inline constexpr FourCharCode kTypeFileURL = fourCC("furl");
inline constexpr FourCharCode kTypeList = fourCC("list");
inline constexpr FourCharCode kTypeRecord = fourCC("reco");
inline constexpr FourCharCode kTypeUTF8Text = fourCC("utf8");
inline constexpr FourCharCode kTypeUnicodeText = fourCC("utxt");
inline constexpr FourCharCode kTypeSInt32 = fourCC("long");
inline constexpr FourCharCode kTypeSInt16 = fourCC("shor");
inline constexpr FourCharCode kTypeSInt64 = fourCC("comp");
inline constexpr FourCharCode kTypeUInt32 = fourCC("magn");
inline constexpr FourCharCode kTypeUInt64 = fourCC("ucom");
inline constexpr FourCharCode kTypeUInt16 = fourCC("ushr");
inline constexpr FourCharCode kTypeBoolean = fourCC("bool");
inline constexpr FourCharCode kTypeTrue = fourCC("true");
inline constexpr FourCharCode kTypeFalse = fourCC("fals");
inline constexpr FourCharCode kTypeType = fourCC("type");
inline constexpr FourCharCode kTypeEnumerated = fourCC("enum");
inline constexpr FourCharCode kTypeNull = fourCC("null");
inline constexpr FourCharCode kTypeBookmarkData = fourCC("bmrk");
inline constexpr FourCharCode kTypeObjectSpecifier = fourCC("obj ");

// Keywords of records and events.
inline constexpr FourCharCode kKeyUserFields = fourCC("usrf");
inline constexpr FourCharCode kKeyDirectObject = fourCC("----");
inline constexpr FourCharCode kKeyInteractLevel = fourCC("inte");

}  // namespace platform::scripting
