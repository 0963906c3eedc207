#include "platform/net/HttpHeaders.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace platform::net {

bool HttpHeaders::equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

bool HttpHeaders::isToken(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) {
        return std::isalnum(c) || (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
    });
}

void HttpHeaders::add(std::string name, std::string value) {
    fields_.emplace_back(std::move(name), std::move(value));
}

void HttpHeaders::set(std::string name, std::string value) {
    auto first = std::find_if(fields_.begin(), fields_.end(),
                              [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
    if (first == fields_.end()) {
        add(std::move(name), std::move(value));
        return;
    }
    first->first = std::move(name);
    first->second = std::move(value);
    auto rest = std::remove_if(std::next(first), fields_.end(), [&](const Field& f) {
        return equalsIgnoringCase(f.first, first->first);
    });
    fields_.erase(rest, fields_.end());
}

void HttpHeaders::remove(std::string_view name) {
    std::erase_if(fields_, [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
}

bool HttpHeaders::contains(std::string_view name) const {
    return std::any_of(fields_.begin(), fields_.end(),
                       [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
}

std::optional<std::string> HttpHeaders::get(std::string_view name) const {
    std::optional<std::string> out;
    for (const auto& [n, v] : fields_) {
        if (!equalsIgnoringCase(n, name))
            continue;
        if (out) {
            *out += ", " + v;
        } else {
            out = v;
        }
    }
    return out;
}

std::vector<std::string> HttpHeaders::values(std::string_view name) const {
    std::vector<std::string> out;
    for (const auto& [n, v] : fields_) {
        if (equalsIgnoringCase(n, name))
            out.push_back(v);
    }
    return out;
}

}  // namespace platform::net
