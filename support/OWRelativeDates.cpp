#include "support/OWRelativeDates.h"

#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "base/Format.h"

namespace {

constexpr double kSecondsPerDay = 86400;

// ICU's calendars cover about ±5.8 million years; dates beyond (or NaN) would make every
// field call fail, so they are pinned to the edges.
constexpr double kMaxMillis = 1.8e17;

UDate toMillis(base::Date date) {
    double ms = date.secondsSince1970 * 1000.0;
    if (std::isnan(ms)) {
        return 0;
    }
    return std::clamp(ms, -kMaxMillis, kMaxMillis);
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// The locale the C library formats dates in: LC_ALL, else LC_TIME, else LANG (an empty
// value counts as unset). ICU's own default follows the messages locale and never reads
// LC_TIME, so "LANG=en_US.UTF-8 LC_TIME=de_DE.UTF-8" would show English weekdays.
icu::Locale userDateLocale() {
    std::string id = "C";
    for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            id = value;
            break;
        }
    }
    if (id == "C" || id == "POSIX" || id.starts_with("C.")) {
        return icu::Locale("en_US_POSIX");
    }
    // "de_DE.UTF-8@euro": ICU's canonical form drops the code set and keeps the rest.
    return icu::Locale::createCanonical(id.c_str());
}

}  // namespace

struct OWRelativeDates::Icu {
    icu::Locale locale;
    std::unique_ptr<icu::TimeZone> zone;
    std::unique_ptr<icu::Calendar> calendar;
    std::unique_ptr<icu::DateFormat> time;          // "HH:mm"
    std::unique_ptr<icu::DateFormat> weekdayTime;   // "EEEE HH:mm"
    std::unique_ptr<icu::DateFormat> monthDayTime;  // "MMM d HH:mm"
    std::unique_ptr<icu::DateFormat> medium;        // medium date, medium time

    Icu(const std::string& localeId, const std::string& zoneId) {
        locale = localeId.empty() ? userDateLocale() : icu::Locale(localeId.c_str());
        if (locale.isBogus()) {
            locale = icu::Locale::getRoot();
        }
        zone.reset(zoneId.empty()
                       ? icu::TimeZone::createDefault()
                       : icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneId)));
        UErrorCode status = U_ZERO_ERROR;
        calendar.reset(icu::Calendar::createInstance(*zone, locale, status));
        if (U_FAILURE(status) || !calendar) {
            status = U_ZERO_ERROR;
            calendar.reset(icu::Calendar::createInstance(*zone, icu::Locale::getRoot(), status));
        }
        time = pattern(u"HH:mm");
        weekdayTime = pattern(u"EEEE HH:mm");
        monthDayTime = pattern(u"MMM d HH:mm");
        medium.reset(icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium,
                                                             icu::DateFormat::kMedium, locale));
        if (medium && calendar) {
            medium->setCalendar(*calendar);
        }
    }

    std::unique_ptr<icu::DateFormat> pattern(const char16_t* text) const {
        UErrorCode status = U_ZERO_ERROR;
        auto format =
            std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(text), locale, status);
        if (U_FAILURE(status)) {
            return nullptr;
        }
        if (calendar) {
            format->setCalendar(*calendar);  // the formatter keeps its own copy
        }
        return format;
    }

    // One calendar field of `date`, or nullopt when ICU cannot say.
    std::optional<int32_t> field(base::Date date, UCalendarDateFields which) const {
        if (!calendar) {
            return std::nullopt;
        }
        UErrorCode status = U_ZERO_ERROR;
        calendar->setTime(toMillis(date), status);
        int32_t value = calendar->get(which, status);
        if (U_FAILURE(status)) {
            return std::nullopt;
        }
        return value;
    }

    bool sameField(base::Date a, base::Date b, UCalendarDateFields which) const {
        auto first = field(a, which);
        return first && first == field(b, which);
    }

    std::string format(const std::unique_ptr<icu::DateFormat>& formatter, base::Date date) const {
        if (!formatter) {
            return {};
        }
        icu::UnicodeString text;
        formatter->format(toMillis(date), text);
        return toUtf8(text);
    }
};

OWRelativeDates::OWRelativeDates() : OWRelativeDates(Options{}) {}

OWRelativeDates::OWRelativeDates(Options options)
    : clock_(options.clock ? std::move(options.clock) : base::Clock::system()),
      icu_(std::make_unique<Icu>(options.locale, options.timeZone)) {}

OWRelativeDates::~OWRelativeDates() = default;

base::Date OWRelativeDates::now() const {
    return base::Date{clock_->now()};
}

std::string OWRelativeDates::relativeDateStringFromNow(base::Date date) const {
    base::Date current = now();
    std::lock_guard lock(mutex_);
    std::optional<long> days = dayOffsetLocked(date, current);
    if (days == 0) {
        double difference = std::trunc(current.secondsSince1970 - date.secondsSince1970);
        // Within one day, so the difference always fits.
        long seconds = difference > 0 ? static_cast<long>(difference) : 0;
        const char* unit = "second";
        long shown = seconds;
        if (seconds > 3599) {
            unit = "hour";
            shown = seconds / 3600;
        } else if (seconds > 59) {
            unit = "minute";
            shown = seconds / 60;
        }
        return base::format("%li %s%@ ago", shown, unit, shown == 1 ? "" : "s");
    }
    if (days == -1) {
        return base::format("Yesterday %@", icu_->format(icu_->time, date));
    }
    if (sameWeekLocked(date, current)) {
        return icu_->format(icu_->weekdayTime, date);
    }
    if (icu_->sameField(date, current, UCAL_EXTENDED_YEAR)) {
        return icu_->format(icu_->monthDayTime, date);
    }
    return icu_->format(icu_->medium, date);
}

bool OWRelativeDates::isEqualToDateIgnoringTime(base::Date date, base::Date other) const {
    std::lock_guard lock(mutex_);
    return dayOffsetLocked(date, other) == 0;
}

bool OWRelativeDates::isSameWeekAsDate(base::Date date, base::Date other) const {
    std::lock_guard lock(mutex_);
    return sameWeekLocked(date, other);
}

bool OWRelativeDates::sameWeekLocked(base::Date date, base::Date other) const {
    if (!icu_->sameField(date, other, UCAL_WEEK_OF_YEAR)) {
        return false;
    }
    return std::fabs(std::trunc(date.secondsSince1970 - other.secondsSince1970)) <
           7 * kSecondsPerDay;
}

bool OWRelativeDates::isSameYearAsDate(base::Date date, base::Date other) const {
    std::lock_guard lock(mutex_);
    return icu_->sameField(date, other, UCAL_EXTENDED_YEAR);
}

bool OWRelativeDates::isToday(base::Date date) const {
    std::lock_guard lock(mutex_);
    return dayOffsetLocked(date, now()) == 0;
}

bool OWRelativeDates::isTomorrow(base::Date date) const {
    std::lock_guard lock(mutex_);
    return dayOffsetLocked(date, now()) == 1;
}

bool OWRelativeDates::isYesterday(base::Date date) const {
    std::lock_guard lock(mutex_);
    return dayOffsetLocked(date, now()) == -1;
}

// Calendar days from `reference` to `date`, by local Julian day numbers: equal exactly
// when year, month and day are, in every calendar ICU knows (lunar leap months included). Yesterday
// and tomorrow are counted in days rather than as now ∓ 24 hours: on the day after a clock change,
// 24 hours back lands two calendar days back (spring) or on the same day (autumn).
std::optional<long> OWRelativeDates::dayOffsetLocked(base::Date date, base::Date reference) const {
    auto day = icu_->field(date, UCAL_JULIAN_DAY);
    auto referenceDay = icu_->field(reference, UCAL_JULIAN_DAY);
    if (!day || !referenceDay) {
        return std::nullopt;
    }
    return static_cast<long>(*day) - *referenceDay;
}

bool OWRelativeDates::isThisWeek(base::Date date) const {
    return isSameWeekAsDate(date, now());
}

bool OWRelativeDates::isThisYear(base::Date date) const {
    return isSameYearAsDate(date, now());
}

base::Date OWRelativeDates::dateWithDaysFromNow(long days) const {
    return base::Date{clock_->now() + static_cast<double>(days) * kSecondsPerDay};
}

base::Date OWRelativeDates::dateWithDaysBeforeNow(long days) const {
    return base::Date{clock_->now() - static_cast<double>(days) * kSecondsPerDay};
}

base::Date OWRelativeDates::dateTomorrow() const {
    return dateWithDaysFromNow(1);
}

base::Date OWRelativeDates::dateYesterday() const {
    return dateWithDaysBeforeNow(1);
}
