#include "client/OWQuorvaneTokenRecord.h"

#include <limits>

#include "base/Format.h"

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool needsEscape(std::string_view value) {
    return value.find(OWQuorvaneTokenRecord::kSeparator) != std::string_view::npos ||
           value.ends_with('#') || value.starts_with(OWQuorvaneTokenRecord::kEscapedMark);
}

}  // namespace

std::string OWQuorvaneTokenRecord::fieldText(std::string_view value) {
    if (!needsEscape(value)) {
        return std::string(value);
    }
    std::string field = kEscapedMark;
    for (char c : value) {
        if (c == '%') {
            field += "%25";
        } else if (c == '#') {
            field += "%23";
        } else {
            field += c;
        }
    }
    return field;
}

std::string OWQuorvaneTokenRecord::fieldValue(std::string_view field) {
    if (!field.starts_with(kEscapedMark)) {
        return std::string(field);
    }
    field.remove_prefix(std::string_view(kEscapedMark).size());
    std::string value;
    value.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field.substr(i, 3) == "%25") {
            value += '%';
            i += 2;
        } else if (field.substr(i, 3) == "%23") {
            value += '#';
            i += 2;
        } else {
            value += field[i];
        }
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
    std::string token = fieldValue(text);
    if (token.empty() || token == kNullText) {
        return std::nullopt;
    }
    return token;
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
    record.accessToken = tokenField(password);
    record.expires = base::Date{static_cast<double>(integerValue(f[2]))};
    record.refreshToken = tokenField(f[3]);
    return record;
}

std::string OWQuorvaneTokenRecord::genericAttribute(
    const std::optional<std::string>& username, const std::string& serverURL,
    const std::optional<base::Date>& expires, const std::optional<std::string>& refreshToken) {
    const double seconds = expires ? expires->secondsSince1970 : 0.0;
    return base::format("%@###%@###%0.0f###%@", fieldText(username.value_or(kNullText)),
                        fieldText(serverURL), seconds, fieldText(refreshToken.value_or(kNullText)));
}
