#include "transfer/TXS3Bucket.h"

#include <ctime>

#include "base/Format.h"

TXS3Bucket TXS3Bucket::bucketWithOwnerID(const std::string& ownerID, const std::string& ownerName) {
    TXS3Bucket bucket;
    bucket.ownerID_ = ownerID;
    bucket.ownerName_ = ownerName;
    return bucket;
}

std::string TXS3Bucket::description() const {
    return base::format("Name: %@ creationDate: %@ ownerID: %@ ownerName: %@", name_,
                        describeDate(creationDate_), ownerID_, ownerName_);
}

namespace {

// The digits of text[from, from + count) as a number; -1 when one is not a digit.
int digits(const std::string& text, size_t from, size_t count) {
    int value = 0;
    for (size_t i = from; i < from + count; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

}  // namespace

std::optional<base::Date> TXS3Bucket::dateFromListing(const std::string& text) {
    // 2009-10-12T17:50:30.000Z
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text.compare(19, 5, ".000Z") != 0) {
        return std::nullopt;
    }
    int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return base::Date{static_cast<double>(timegm(&tm))};
}

std::string TXS3Bucket::describeDate(const std::optional<base::Date>& date) {
    return date ? base::Value(*date).describe() : "(null)";
}
