#include "client/OWQuorvaneTokenRecord.h"

#include <limits>

#include "base/Format.h"

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

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
    if (text.empty() || text == kNullText) {
        return std::nullopt;
    }
    return std::string(text);
}

std::string OWQuorvaneTokenRecord::serverField(std::string_view text) {
    std::string server = trimmed(text);
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
    record.username = trimmed(f[0]);
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
    return base::format("%@###%@###%0.0f###%@", username ? *username : std::string(kNullText),
                        serverURL, seconds, refreshToken ? *refreshToken : std::string(kNullText));
}
