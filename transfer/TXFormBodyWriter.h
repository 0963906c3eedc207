#pragma once
// The bytes of a form body, apart from the request that sends them: the text
// encodings a form can be written in, URL escaping, the URL-encoded body and the
// multipart writer. The writer hands every piece to a sink, so the request can
// put the body in memory or in its temporary body file.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/Value.h"

// The platform's text-encoding numbers that a form can be written in.
using TXStringEncoding = uint64_t;
inline constexpr TXStringEncoding TXASCIIStringEncoding = 1;
inline constexpr TXStringEncoding TXUTF8StringEncoding = 4;
inline constexpr TXStringEncoding TXISOLatin1StringEncoding = 5;
inline constexpr TXStringEncoding TXWindowsCP1252StringEncoding = 12;
inline constexpr TXStringEncoding TXMacOSRomanStringEncoding = 30;

// A text field: the name and the value's textual description.
struct TXFormField {
    std::string key;
    std::string value;
    friend bool operator==(const TXFormField&, const TXFormField&) = default;
};

// A file field; `data` is a path read when the body is built, or bytes in memory.
struct TXFormFile {
    std::string key;
    std::string fileName;
    std::string contentType;
    std::variant<std::string, base::Data> data;
    friend bool operator==(const TXFormFile&, const TXFormFile&) = default;
};

class TXFormBodyWriter {
  public:
    // Where the pieces go. Each answers false when the piece could not be appended
    // (the body is then abandoned).
    struct Sink {
        std::function<bool(std::string_view bytes)> appendBytes;
        std::function<bool(const std::string& path)> appendFile;
    };

    // The IANA character-set name ("utf-8"); none for an encoding we cannot write.
    static std::optional<std::string> charsetName(TXStringEncoding encoding);
    // `text` (UTF-8) in `encoding`; none when a character has no form there.
    static std::optional<std::string> encodeText(std::string_view text, TXStringEncoding encoding);
    // Percent-escapes every byte of the encoded text except letters, digits, "-",
    // "_" and "."; a space becomes %20. Empty when the text cannot be encoded.
    static std::string encodeURL(std::string_view text, TXStringEncoding encoding);
    // A field or file name made safe inside a quoted header parameter: '"', CR and
    // LF become %22, %0D and %0A, as browsers write them; other bytes stay.
    static std::string quotedParameter(std::string_view name);
    // "0xKhTmLbOuNdArY-" and a fresh UUID.
    static std::string newBoundary();

    // "name=value&name=value"; none when a text cannot be encoded.
    static std::optional<std::string> urlEncodedBody(const std::vector<TXFormField>& fields,
                                                     TXStringEncoding encoding);
    // Writes the multipart body with `boundary`; false when a piece could not be
    // encoded or appended.
    static bool writeMultipart(const std::vector<TXFormField>& fields,
                               const std::vector<TXFormFile>& files, const std::string& boundary,
                               TXStringEncoding encoding, const Sink& sink);
};
