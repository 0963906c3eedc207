#include "client/OWQuorvaneRedaction.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace OWQuorvaneRedaction {

namespace {

constexpr std::array<std::string_view, 6> kSecretNames = {
    "access_token", "refresh_token", "code", "state", "password", "revoke"};

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool isValueEnd(char c, bool quoted) {
    if (quoted) {
        return c == '"';
    }
    return c == '&' || c == ',' || c == '}' || c == ';' || c == '"' ||
           std::isspace(static_cast<unsigned char>(c));
}

void skipSpaces(std::string_view text, size_t& i) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
}

// When a secret's value starts at `i` (after the name), the index where it starts and
// whether it is quoted.
std::optional<std::pair<size_t, bool>> valueStart(std::string_view text, size_t i) {
    if (i < text.size() && text[i] == '"') {
        ++i;  // closing quote of a JSON key
    }
    skipSpaces(text, i);
    if (i >= text.size() || (text[i] != '=' && text[i] != ':')) {
        return std::nullopt;
    }
    ++i;
    skipSpaces(text, i);
    const bool quoted = i < text.size() && text[i] == '"';
    return std::make_pair(quoted ? i + 1 : i, quoted);
}

}  // namespace

bool isSecretName(std::string_view name) {
    for (std::string_view secret : kSecretNames) {
        if (name == secret) {
            return true;
        }
    }
    return false;
}

std::string token(const std::optional<std::string>& token) {
    return token ? kMask : "(null)";
}

std::string text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (!isNameChar(text[i]) || (i > 0 && isNameChar(text[i - 1]))) {
            out += text[i++];
            continue;
        }
        size_t end = i;
        while (end < text.size() && isNameChar(text[end])) {
            ++end;
        }
        out.append(text.substr(i, end - i));
        const auto start =
            isSecretName(text.substr(i, end - i)) ? valueStart(text, end) : std::nullopt;
        i = end;
        if (!start) {
            continue;
        }
        out.append(text.substr(i, start->first - i));
        size_t stop = start->first;
        while (stop < text.size() && !isValueEnd(text[stop], start->second)) {
            // An escaped quote does not end a quoted value.
            stop += start->second && text[stop] == '\\' ? 2 : 1;
        }
        stop = std::min(stop, text.size());
        out += kMask;
        i = stop;
    }
    return out;
}

base::Value value(const base::Value& value) {
    if (const base::Dictionary* d = value.dictionary()) {
        base::Dictionary masked;
        for (const auto& [key, item] : *d) {
            masked.set(key,
                       isSecretName(key) ? base::Value(kMask) : OWQuorvaneRedaction::value(item));
        }
        return masked;
    }
    if (const base::Array* a = value.array()) {
        base::Array masked;
        for (const base::Value& item : *a) {
            masked.push_back(OWQuorvaneRedaction::value(item));
        }
        return masked;
    }
    return value;
}

}  // namespace OWQuorvaneRedaction
