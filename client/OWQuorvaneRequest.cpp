#include "client/OWQuorvaneRequest.h"

#include <array>
#include <cstdint>

#include "base/Format.h"

namespace {

// Characters a URL may carry as they are: letters, digits, the reserved and the
// unreserved marks. Everything else (space, "%", quotation marks, angle brackets,
// "#", braces, controls and every byte of a non-ASCII character) is escaped.
bool isURLCharacter(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    constexpr std::string_view kMarks = ";/?:@&=+$,-_.!~*'()";
    return kMarks.find(static_cast<char>(c)) != std::string_view::npos;
}

void appendEscaped(std::string& out, unsigned char c) {
    constexpr const char* kHex = "0123456789ABCDEF";
    out.push_back('%');
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 0xF]);
}

void append(base::Data& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

std::vector<OWQuorvaneRequest::File> OWQuorvaneRequest::filesFrom(const base::Dictionary& data,
                                                                  const base::Dictionary& names) {
    std::vector<File> files;
    for (const auto& [field, value] : data) {
        File file{field, {}, {}};
        if (const auto* bytes = value.data()) {
            file.bytes = *bytes;
        } else {
            const std::string text = valueText(value);
            file.bytes.assign(text.begin(), text.end());
        }
        if (const auto* name = names.find(field)) {
            file.filename = valueText(*name);
        }
        files.push_back(std::move(file));
    }
    return files;
}

base::Dictionary OWQuorvaneRequest::paramsWithToken(const std::optional<std::string>& token) const {
    base::Dictionary result = params;
    if (token) {
        result.set(kAccessTokenField, *token);
    }
    return result;
}

OWQuorvaneRequest::Body OWQuorvaneRequest::body(const std::optional<std::string>& token) const {
    Body body;
    const base::Dictionary fields = paramsWithToken(token);
    if (!files) {
        const std::string text = formBody(fields);
        body.bytes.assign(text.begin(), text.end());
        return body;
    }
    body.contentType = base::format("multipart/form-data; boundary=%@", kBoundary);
    body.bytes = multipartBody(fields, *files, mimeType, &body.loggedParams);
    return body;
}

std::string OWQuorvaneRequest::valueText(const base::Value& value) {
    return value.stringValue();
}

std::string OWQuorvaneRequest::sanitizeURLParameter(std::string_view value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (isURLCharacter(c)) {
            escaped.push_back(ch);
        } else {
            appendEscaped(escaped, c);
        }
    }
    // The characters that would end or split a form field.
    std::string result;
    result.reserve(escaped.size());
    for (const char ch : escaped) {
        switch (ch) {
            case '&':
                result += "%26";
                break;
            case '=':
                result += "%3D";
                break;
            case '?':
                result += "%3F";
                break;
            case '+':
                result += "%2B";
                break;
            default:
                result.push_back(ch);
        }
    }
    return result;
}

std::string OWQuorvaneRequest::formBody(const base::Dictionary& params) {
    std::string body;
    for (const auto& [name, value] : params) {
        body += '&';
        body += name;
        body += '=';
        body += sanitizeURLParameter(valueText(value));
    }
    return body;
}

base::Data OWQuorvaneRequest::multipartBody(const base::Dictionary& params,
                                            const std::vector<File>& files,
                                            const std::string& mimeType,
                                            std::string* loggedParams) {
    const std::string boundary = kBoundary;
    const std::string separator = "\r\n--" + boundary + "\r\n";
    base::Data body;
    append(body, "--" + boundary + "\r\n");
    bool first = true;
    auto startPart = [&] {
        if (!first) {
            append(body, separator);
        }
        first = false;
    };
    std::string logged;
    for (const auto& [name, value] : params) {
        const std::string text = valueText(value);
        const std::string part =
            base::format("Content-Disposition: form-data; name=\"%@\"\r\n\r\n", name);
        startPart();
        append(body, part);
        append(body, text);
        logged += part;
        logged += name == kAccessTokenField ? "<redacted>" : text;
        logged += separator;
    }
    for (const auto& file : files) {
        startPart();
        append(body,
               base::format("Content-Disposition: form-data; name=\"%@\"; filename=\"%@\"\r\n",
                            file.field, file.filename));
        append(body, base::format("Content-Type: %@\r\n", mimeType));
        append(body, "Content-Transfer-Encoding: binary\r\n\r\n");
        body.insert(body.end(), file.bytes.begin(), file.bytes.end());
    }
    // The closing delimiter ends every body, also one without files or fields.
    if (first) {
        body.clear();
        append(body, "--" + boundary + "--\r\n");
    } else {
        append(body, "\r\n--" + boundary + "--\r\n");
    }
    if (loggedParams) {
        *loggedParams = std::move(logged);
    }
    return body;
}

std::optional<std::string> OWQuorvaneRequest::formField(std::string_view body,
                                                        std::string_view field) {
    size_t pos = 0;
    while (pos < body.size()) {
        if (body[pos] == '&') {
            ++pos;
        }
        const size_t end = std::min(body.find('&', pos), body.size());
        const std::string_view pair = body.substr(pos, end - pos);
        const size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == field) {
            return std::string(pair.substr(equals + 1));
        }
        pos = end;
    }
    return std::nullopt;
}
