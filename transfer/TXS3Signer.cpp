#include "transfer/TXS3Signer.h"

#include <algorithm>
#include <charconv>
#include <ctime>

#include "platform/crypto/Base64.h"
#include "platform/crypto/Hmac.h"

namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string twoDigits(int n) {
    return std::string{static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
}

bool keptInS3Path(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '/';
}

std::string lowercase(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

std::optional<int> digits(std::string_view text, size_t at, size_t n) {
    int value = 0;
    if (at + n > text.size()) {
        return std::nullopt;
    }
    auto [end, ec] = std::from_chars(text.data() + at, text.data() + at + n, value);
    if (ec != std::errc() || end != text.data() + at + n) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string TXS3Signer::requestDateString(std::chrono::system_clock::time_point when) {
    std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    return std::string(kDays[tm.tm_wday]) + ", " + std::to_string(tm.tm_mday) + " " +
           kMonths[tm.tm_mon] + " " + std::to_string(tm.tm_year + 1900) + " " +
           twoDigits(tm.tm_hour) + ":" + twoDigits(tm.tm_min) + ":" + twoDigits(tm.tm_sec) +
           " +0000";
}

std::optional<std::chrono::system_clock::time_point> TXS3Signer::parseResponseDate(
    std::string_view text) {
    // yyyy-MM-ddTHH:mm:ss.000Z
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text.substr(19) != ".000Z") {
        return std::nullopt;
    }
    auto y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    auto h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *mo < 1 || *mo > 12 || *d < 1 || *d > 31 || *h > 23 ||
        *mi > 59 || *s > 60) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = *y - 1900;
    tm.tm_mon = *mo - 1;
    tm.tm_mday = *d;
    tm.tm_hour = *h;
    tm.tm_min = *mi;
    tm.tm_sec = *s;
    return std::chrono::system_clock::from_time_t(::timegm(&tm));
}

std::string TXS3Signer::stringByURLEncodingForS3Path(const std::optional<std::string>& key) {
    if (!key) {
        return "/";
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(key->size() + 1);
    for (char ch : *key) {
        auto c = static_cast<unsigned char>(ch);
        if (keptInS3Path(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    if (out.empty() || out.front() != '/') {
        out.insert(out.begin(), '/');
    }
    return out;
}

std::string TXS3Signer::canonicalHeaders(const Headers& amzHeaders) {
    std::vector<std::pair<std::string, std::string>> lines;
    lines.reserve(amzHeaders.size());
    for (const auto& [name, value] : amzHeaders) {
        lines.emplace_back(lowercase(name), value);
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string text;
    for (const auto& [name, value] : lines) {
        text += name + ":" + value + "\n";
    }
    return text;
}

std::string TXS3Signer::stringToSign(std::string_view method, std::string_view contentType,
                                     std::string_view date, std::string_view canonicalHeaders,
                                     std::string_view resource) {
    std::string text;
    text.reserve(method.size() + contentType.size() + date.size() + canonicalHeaders.size() +
                 resource.size() + 4);
    text.append(method).append("\n\n").append(contentType).append("\n").append(date);
    text.append("\n").append(canonicalHeaders).append(resource);
    return text;
}

std::string TXS3Signer::signature(std::string_view secretAccessKey, std::string_view stringToSign) {
    return platform::crypto::Base64::encode(
        platform::crypto::Hmac::sha1(secretAccessKey, stringToSign));
}

std::string TXS3Signer::authorization(std::string_view accessKey, std::string_view signature) {
    return "AWS " + std::string(accessKey) + ":" + std::string(signature);
}
