#pragma once
// Conversions between UTF-8 and other text encodings named as iconv names them
// ("ISO-8859-1", "WINDOWS-1252", "UTF-16LE", "MACINTOSH", ...), and UTF-8 checks.
#include <optional>
#include <string>
#include <string_view>

namespace base {

class TextEncoding {
  public:
    // None when the encoding is unknown or the bytes are not valid in it.
    static std::optional<std::string> toUtf8(std::string_view bytes, const std::string& encoding);
    // None when the encoding is unknown, the text is not valid UTF-8 or a character
    // has no form in the target encoding (nothing is dropped or approximated).
    static std::optional<std::string> fromUtf8(std::string_view text, const std::string& encoding);
    static std::optional<std::string> convert(std::string_view bytes, const std::string& from,
                                              const std::string& to);
    // Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
    static bool isValidUtf8(std::string_view text);
};

}  // namespace base
