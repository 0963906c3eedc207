#pragma once
// Small text helpers the HTTP, URL and cookie parsers share. Header fields and URL
// parts are ASCII on the wire, so case folding is byte-wise here.
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace platform::net::text {

// Without the spaces and tabs around it (optional white space in header fields).
inline std::string trim(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) {
        return {};
    }
    const size_t e = s.find_last_not_of(" \t");
    return std::string(s.substr(b, e - b + 1));
}

inline std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace platform::net::text
