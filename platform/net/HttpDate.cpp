#include "platform/net/HttpDate.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace platform::net {
namespace {

const char* kMonths[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                           "jul", "aug", "sep", "oct", "nov", "dec"};
const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* kDayNames[7] = {"Thu", "Fri", "Sat", "Sun",
                            "Mon", "Tue", "Wed"};  // 1970-01-01 was a Thursday

bool isDelimiter(unsigned char c) {
    return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) ||
           (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

size_t leadingDigits(std::string_view t) {
    size_t n = 0;
    while (n < t.size() && std::isdigit(static_cast<unsigned char>(t[n]))) ++n;
    return n;
}

bool parseTime(std::string_view t, int& h, int& mi, int& s) {
    int parts[3];
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        size_t n = leadingDigits(t.substr(at));
        if (n < 1 || n > 2)
            return false;
        parts[i] = std::stoi(std::string(t.substr(at, n)));
        at += n;
        if (i < 2) {
            if (at >= t.size() || t[at] != ':')
                return false;
            ++at;
        }
    }
    h = parts[0], mi = parts[1], s = parts[2];
    return true;
}

}  // namespace

std::optional<double> HttpDate::parse(std::string_view text) {
    if (text.size() > 256)
        return std::nullopt;
    std::vector<std::string_view> tokens;
    for (size_t i = 0; i < text.size();) {
        while (i < text.size() && isDelimiter(static_cast<unsigned char>(text[i]))) ++i;
        size_t start = i;
        while (i < text.size() && !isDelimiter(static_cast<unsigned char>(text[i]))) ++i;
        if (i > start)
            tokens.push_back(text.substr(start, i - start));
    }
    bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    for (std::string_view t : tokens) {
        size_t digits = leadingDigits(t);
        if (!haveTime && parseTime(t, hour, minute, second)) {
            haveTime = true;
        } else if (!haveDay && digits >= 1 && digits <= 2) {
            day = std::stoi(std::string(t.substr(0, digits)));
            haveDay = true;
        } else if (!haveMonth && t.size() >= 3 && [&] {
                       for (int m = 0; m < 12; ++m) {
                           if (strncasecmp(t.data(), kMonths[m], 3) == 0) {
                               month = m + 1;
                               return true;
                           }
                       }
                       return false;
                   }()) {
            haveMonth = true;
        } else if (!haveYear && digits >= 2 && digits <= 4) {
            year = std::stoi(std::string(t.substr(0, digits)));
            haveYear = true;
        }
    }
    if (!haveTime || !haveDay || !haveMonth || !haveYear)
        return std::nullopt;
    if (year >= 70 && year <= 99)
        year += 1900;
    if (year >= 0 && year <= 69)
        year += 2000;
    if (day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    if (static_cast<int>(m) != month)
        return std::nullopt;  // 31 February and the like
    return static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second);
}

std::string HttpDate::format(double secondsSince1970) {
    int64_t total = static_cast<int64_t>(std::floor(secondsSince1970));
    int64_t days = total >= 0 ? total / 86400 : (total - 86399) / 86400;
    int64_t rest = total - days * 86400;
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    char out[64];
    std::snprintf(out, sizeof out, "%s, %02u %s %04lld %02lld:%02lld:%02lld GMT",
                  kDayNames[((days % 7) + 7) % 7], d, kMonthNames[m - 1], static_cast<long long>(y),
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return out;
}

}  // namespace platform::net
