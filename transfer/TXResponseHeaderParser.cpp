#include "transfer/TXResponseHeaderParser.h"

#include <charconv>
#include <cstring>
#include <ctime>

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// An integer right after `key` (blanks allowed before it); none when absent.
std::optional<long> integerAfter(std::string_view text, std::string_view key) {
    std::string low = lower(text);
    size_t at = low.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    std::string_view rest = text.substr(at + key.size());
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == '+')
        rest.remove_prefix(1);
    long value = 0;
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value, 10);
    if (ec != std::errc() || end == rest.data())
        return std::nullopt;
    return value;
}

std::optional<int> number(std::string_view s, size_t digits) {
    if (s.size() != digits)
        return std::nullopt;
    int v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return v;
}

}  // namespace

TXResponseHeaderParser::ContentType TXResponseHeaderParser::parseContentType(
    std::string_view value) {
    ContentType out;
    if (value.size() > kMaxValueLength)
        return out;
    size_t semi = value.find(';');
    out.mimeType = std::string(trim(value.substr(0, semi)));
    std::string low = lower(value);
    size_t at = low.find("charset=");
    if (at == std::string::npos || semi == std::string_view::npos || at < semi)
        return out;
    std::string_view rest = value.substr(at + 8);
    std::string_view name = trim(rest.substr(0, rest.find(';')));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    out.charset = std::string(name);
    return out;
}

std::optional<uint64_t> TXResponseHeaderParser::parseContentLength(std::string_view value) {
    if (value.size() > kMaxValueLength)
        return std::nullopt;
    std::string_view t = trim(value);
    uint64_t n = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n, 10);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size())
        return std::nullopt;
    return n;
}

TXResponseHeaderParser::KeepAlive TXResponseHeaderParser::parseKeepAlive(std::string_view value) {
    KeepAlive out;
    if (value.size() > kMaxValueLength)
        return out;
    out.timeout = integerAfter(value, "timeout=");
    out.max = integerAfter(value, "max=");
    return out;
}

std::optional<double> TXResponseHeaderParser::parseMaxAge(std::string_view value) {
    if (value.size() > kMaxValueLength)
        return std::nullopt;
    std::string low = lower(value);
    size_t at = low.find("max-age");
    if (at == std::string::npos)
        return std::nullopt;
    std::string_view rest = trim(std::string_view(low).substr(at + 7));
    if (rest.empty() || rest.front() != '=')
        return std::nullopt;
    auto n = integerAfter(rest, "=");
    if (!n || *n < 0)
        return std::nullopt;
    return static_cast<double>(*n);
}

std::optional<double> TXResponseHeaderParser::parseRFC1123Date(std::string_view value) {
    if (value.size() > 64)
        return std::nullopt;
    std::string_view t = trim(value);
    // The weekday is there when the text has a comma; it is not checked.
    if (size_t comma = t.find(','); comma != std::string_view::npos)
        t = trim(t.substr(comma + 1));
    // "dd MMM yyyy HH:mm[:ss] zone"
    std::string_view parts[5];
    for (int i = 0; i < 5; ++i) {
        size_t sp = t.find(' ');
        if (i < 4 && sp == std::string_view::npos)
            return std::nullopt;
        parts[i] = t.substr(0, sp);
        t = sp == std::string_view::npos ? std::string_view() : trim(t.substr(sp + 1));
    }
    if (!t.empty())
        return std::nullopt;
    static const char* months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    std::string month = lower(parts[1]);
    int mon = -1;
    for (int i = 0; i < 12; ++i)
        if (month == months[i])
            mon = i;
    auto day = number(parts[0], parts[0].size() == 1 ? 1 : 2);
    auto year = number(parts[2], 4);
    std::string_view clock = parts[3];
    auto hour = number(clock.substr(0, clock.find(':')), 2);
    std::optional<int> minute, second = 0;
    if (clock.size() == 5 && clock[2] == ':') {
        minute = number(clock.substr(3, 2), 2);
    } else if (clock.size() == 8 && clock[2] == ':' && clock[5] == ':') {
        minute = number(clock.substr(3, 2), 2);
        second = number(clock.substr(6, 2), 2);
    }
    if (mon < 0 || !day || !year || !hour || !minute || !second || *day < 1 || *day > 31 ||
        *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    int offset = 0;
    std::string zone = lower(parts[4]);
    if (zone == "gmt" || zone == "utc" || zone == "ut" || zone == "z") {
        offset = 0;
    } else if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-')) {
        auto hh = number(std::string_view(zone).substr(1, 2), 2);
        auto mm = number(std::string_view(zone).substr(3, 2), 2);
        if (!hh || !mm || *hh > 23 || *mm > 59)
            return std::nullopt;
        offset = (*hh * 3600 + *mm * 60) * (zone[0] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = *year - 1900;
    tm.tm_mon = mon;
    tm.tm_mday = *day;
    tm.tm_hour = *hour;
    tm.tm_min = *minute;
    tm.tm_sec = *second;
    time_t t0 = timegm(&tm);
    return static_cast<double>(t0) - offset;
}
