#include "transfer/TXFormBodyWriter.h"

#include <array>

#include "base/Random.h"
#include "base/TextEncoding.h"

namespace {

struct EncodingNames {
    TXStringEncoding encoding;
    const char* iconvName;
    const char* charset;
};

constexpr std::array kEncodings = {
    EncodingNames{TXASCIIStringEncoding, "US-ASCII", "us-ascii"},
    EncodingNames{TXUTF8StringEncoding, "UTF-8", "utf-8"},
    EncodingNames{TXISOLatin1StringEncoding, "ISO-8859-1", "iso-8859-1"},
    EncodingNames{TXWindowsCP1252StringEncoding, "WINDOWS-1252", "windows-1252"},
    EncodingNames{TXMacOSRomanStringEncoding, "MACINTOSH", "macintosh"},
};

const EncodingNames* namesOf(TXStringEncoding encoding) {
    for (const auto& names : kEncodings) {
        if (names.encoding == encoding) {
            return &names;
        }
    }
    return nullptr;
}

bool keptByURLEscaping(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

}  // namespace

std::optional<std::string> TXFormBodyWriter::charsetName(TXStringEncoding encoding) {
    const EncodingNames* names = namesOf(encoding);
    if (names == nullptr) {
        return std::nullopt;
    }
    return std::string(names->charset);
}

std::optional<std::string> TXFormBodyWriter::encodeText(std::string_view text,
                                                        TXStringEncoding encoding) {
    const EncodingNames* names = namesOf(encoding);
    if (names == nullptr) {
        return std::nullopt;
    }
    if (encoding == TXUTF8StringEncoding) {
        if (!base::TextEncoding::isValidUtf8(text)) {
            return std::nullopt;
        }
        return std::string(text);
    }
    return base::TextEncoding::fromUtf8(text, names->iconvName);
}

std::string TXFormBodyWriter::encodeURL(std::string_view text, TXStringEncoding encoding) {
    auto bytes = encodeText(text, encoding);
    if (!bytes) {
        return {};
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes->size());
    for (char ch : *bytes) {
        auto c = static_cast<unsigned char>(ch);
        if (keptByURLEscaping(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

std::string TXFormBodyWriter::quotedParameter(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        switch (c) {
            case '"':
                out += "%22";
                break;
            case '\r':
                out += "%0D";
                break;
            case '\n':
                out += "%0A";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string TXFormBodyWriter::newBoundary() {
    return "0xKhTmLbOuNdArY-" + base::uuidString();
}

std::optional<std::string> TXFormBodyWriter::urlEncodedBody(const std::vector<TXFormField>& fields,
                                                            TXStringEncoding encoding) {
    std::string body;
    for (size_t i = 0; i < fields.size(); ++i) {
        // An empty escape means the text has no form in the encoding (an empty text
        // escapes to empty too, which is harmless).
        std::string key = encodeURL(fields[i].key, encoding);
        std::string value = encodeURL(fields[i].value, encoding);
        if ((key.empty() && !fields[i].key.empty()) ||
            (value.empty() && !fields[i].value.empty())) {
            return std::nullopt;
        }
        body += key;
        body += '=';
        body += value;
        if (i + 1 < fields.size()) {
            body += '&';
        }
    }
    return encodeText(body, encoding);
}

namespace {

// Writes text pieces in the form's encoding; remembers the first failure.
class PieceWriter {
  public:
    PieceWriter(TXStringEncoding encoding, const TXFormBodyWriter::Sink& sink)
        : encoding_(encoding), sink_(sink) {}

    void text(std::string_view piece) {
        if (!ok_) {
            return;
        }
        auto bytes = TXFormBodyWriter::encodeText(piece, encoding_);
        ok_ = bytes.has_value() && sink_.appendBytes(*bytes);
    }
    void content(const std::variant<std::string, base::Data>& data) {
        if (!ok_) {
            return;
        }
        if (const auto* path = std::get_if<std::string>(&data)) {
            ok_ = sink_.appendFile(*path);
        } else {
            const auto& bytes = std::get<base::Data>(data);
            ok_ = sink_.appendBytes(
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        }
    }
    bool ok() const { return ok_; }

  private:
    TXStringEncoding encoding_;
    const TXFormBodyWriter::Sink& sink_;
    bool ok_ = true;
};

}  // namespace

bool TXFormBodyWriter::writeMultipart(const std::vector<TXFormField>& fields,
                                      const std::vector<TXFormFile>& files,
                                      const std::string& boundary, TXStringEncoding encoding,
                                      const Sink& sink) {
    PieceWriter out(encoding, sink);
    const std::string separator = "\r\n--" + boundary + "\r\n";
    out.text("--" + boundary + "\r\n");
    for (size_t i = 0; i < fields.size(); ++i) {
        out.text("Content-Disposition: form-data; name=\"" + quotedParameter(fields[i].key) +
                 "\"\r\n\r\n");
        out.text(fields[i].value);
        if (i + 1 < fields.size() || !files.empty()) {
            out.text(separator);
        }
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const TXFormFile& file = files[i];
        out.text("Content-Disposition: form-data; name=\"" + quotedParameter(file.key) +
                 "\"; filename=\"" + quotedParameter(file.fileName) + "\"\r\n");
        out.text("Content-Type: " + file.contentType + "\r\n\r\n");
        out.content(file.data);
        if (i + 1 < files.size()) {
            out.text(separator);
        }
    }
    out.text("\r\n--" + boundary + "--\r\n");
    return out.ok();
}
