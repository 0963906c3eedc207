#include "client/OWQuorvaneTokenRecord.h"

#include <cstdint>
#include <limits>

#include "base/Format.h"
#include "base/TextEncoding.h"

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A byte the property-list writer refuses in text: C0 controls other than tab, line
// feed and carriage return, and the three bytes of U+FFFE and U+FFFF. `at` indexes `text`.
bool refusedByteAt(std::string_view text, size_t at) {
    const auto c = static_cast<uint8_t>(text[at]);
    if (c < 0x20) {
        return c != '\t' && c != '\n' && c != '\r';
    }
    // The non-characters are EF BF BE and EF BF BF; each of their bytes is marked.
    for (size_t start = at >= 2 ? at - 2 : 0; start <= at; ++start) {
        if (start + 2 < text.size() && static_cast<uint8_t>(text[start]) == 0xef &&
            static_cast<uint8_t>(text[start + 1]) == 0xbf &&
            (static_cast<uint8_t>(text[start + 2]) & 0xfe) == 0xbe) {
            return true;
        }
    }
    return false;
}

// In an escaped field: "%" and "#", what the writer refuses, and every byte of text
// that is not UTF-8 (which the writer refuses too).
bool escapedByteAt(std::string_view text, size_t at, bool utf8) {
    const char c = text[at];
    return c == '%' || c == '#' || (!utf8 && static_cast<uint8_t>(c) >= 0x80) ||
           refusedByteAt(text, at);
}

bool needsEscape(std::string_view value) {
    if (value.find(OWQuorvaneTokenRecord::kSeparator) != std::string_view::npos ||
        value.ends_with('#') || value.starts_with(OWQuorvaneTokenRecord::kEscapedMark) ||
        value == OWQuorvaneTokenRecord::kNullText || !base::TextEncoding::isValidUtf8(value)) {
        return true;
    }
    for (size_t i = 0; i < value.size(); ++i) {
        if (refusedByteAt(value, i)) {
            return true;
        }
    }
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

}  // namespace

std::string OWQuorvaneTokenRecord::fieldText(std::string_view value) {
    if (!needsEscape(value)) {
        return std::string(value);
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    const bool utf8 = base::TextEncoding::isValidUtf8(value);
    std::string field = kEscapedMark;
    for (size_t i = 0; i < value.size(); ++i) {
        if (escapedByteAt(value, i, utf8)) {
            const auto byte = static_cast<uint8_t>(value[i]);
            field += '%';
            field += kHex[byte >> 4];
            field += kHex[byte & 0xf];
        } else {
            field += value[i];
        }
    }
    return field;
}

std::string OWQuorvaneTokenRecord::fieldValue(std::string_view field) {
    if (!field.starts_with(kEscapedMark)) {
        return std::string(field);
    }
    std::string_view text = field.substr(std::string_view(kEscapedMark).size());
    std::string value;
    value.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? hexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? hexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            value += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            value += text[i];
        }
    }
    // The writer's own form of a value is the only one it reads as escaped: a field
    // in any other form was written as it stands, before values were escaped.
    if (fieldText(value) != field) {
        return std::string(field);
    }
    return value;
}

std::optional<std::vector<std::string>> OWQuorvaneTokenRecord::splitFields(std::string_view text) {
    if (text.size() > kMaxTextLength) {
        return std::nullopt;
    }
    const std::string_view sep = kSeparator;
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t at = text.find(sep); at != std::string_view::npos; at = text.find(sep, from)) {
        fields.emplace_back(text.substr(from, at - from));
        from = at + sep.size();
    }
    fields.emplace_back(text.substr(from));
    return fields;
}

int64_t OWQuorvaneTokenRecord::integerValue(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate toward the sign so the most negative value needs no special case.
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (negative) {
            if (value < (kMin + digit) / 10) {
                return kMin;
            }
            value = value * 10 - digit;
        } else {
            if (value > (kMax - digit) / 10) {
                return kMax;
            }
            value = value * 10 + digit;
        }
    }
    return value;
}

std::string OWQuorvaneTokenRecord::trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::optional<std::string> OWQuorvaneTokenRecord::tokenField(std::string_view text) {
    // A value of "(null)" is written escaped, so only the bare text means no token.
    if (text.empty() || text == kNullText) {
        return std::nullopt;
    }
    return fieldValue(text);
}

std::string OWQuorvaneTokenRecord::nameField(std::string_view text) {
    return trimmed(fieldValue(trimmed(text)));
}

std::string OWQuorvaneTokenRecord::serverField(std::string_view text) {
    std::string server = nameField(text);
    return server == kNullText ? std::string() : server;
}

OWQuorvaneTokenRecord OWQuorvaneTokenRecord::fromItem(const std::string& account,
                                                      const std::string& password,
                                                      const std::optional<std::string>& generic,
                                                      bool honourLegacy) {
    OWQuorvaneTokenRecord record;
    record.username = account;
    if (!generic) {
        return record;
    }
    const auto fields = splitFields(*generic);
    if (!fields || fields->size() < 3 || (fields->size() < 4 && !honourLegacy)) {
        return record;
    }
    const std::vector<std::string>& f = *fields;
    record.username = nameField(f[0]);
    if (f.size() == 3) {
        record.kind = Kind::PasswordGrant;
        record.serverURL = serverField(f[2]);
        record.password = password;
        record.loginEmail = account;
        return record;
    }
    record.kind = Kind::Tokens;
    record.serverURL = serverField(f[1]);
    // The password holds the access token as it stands: it was never escaped, and the
    // store keeps any bytes there.
    if (!password.empty()) {
        record.accessToken = password;
    }
    record.expires = base::Date{static_cast<double>(integerValue(f[2]))};
    record.refreshToken = tokenField(f[3]);
    return record;
}

std::string OWQuorvaneTokenRecord::genericAttribute(
    const std::optional<std::string>& username, const std::string& serverURL,
    const std::optional<base::Date>& expires, const std::optional<std::string>& refreshToken) {
    const double seconds = expires ? expires->secondsSince1970 : 0.0;
    return base::format("%@###%@###%0.0f###%@", username ? fieldText(*username) : kNullText,
                        fieldText(serverURL), seconds,
                        refreshToken ? fieldText(*refreshToken) : kNullText);
}
