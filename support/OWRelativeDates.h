#pragma once
// The short text a list row shows for a past date ("5 minutes ago", "Yesterday 23:50",
// a weekday, a month and day, or a full date) and the calendar tests and day arithmetic
// behind it. Calendar work uses one calendar, time zone and locale: the user's current
// ones unless the caller names others. The user's locale is the one the C library
// formats dates in (LC_ALL, else LC_TIME, else LANG); the time zone is ICU's default
// (TZ or /etc/localtime). "Now" comes from a clock, so tests can fix it.
//
// An object is safe to use from several threads: its ICU calendar and formatters are
// made once and used under a lock.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/Clock.h"
#include "base/Value.h"

class OWRelativeDates {
  public:
    struct Options {
        std::shared_ptr<base::Clock> clock;  // the system clock when null
        std::string locale;                  // ICU locale id ("de_DE"); empty: the user's
        std::string timeZone;                // Olson id ("Europe/Berlin"); empty: the user's
    };

    OWRelativeDates();
    explicit OWRelativeDates(Options options);
    ~OWRelativeDates();
    OWRelativeDates(const OWRelativeDates&) = delete;
    OWRelativeDates& operator=(const OWRelativeDates&) = delete;

    // The row text for `date`, by the first rule that holds: today (seconds, minutes or
    // hours ago; a date later today counts as now), yesterday, this week, this year,
    // otherwise the locale's medium date and time.
    std::string relativeDateStringFromNow(base::Date date) const;

    // Same year, month and day.
    bool isEqualToDateIgnoringTime(base::Date date, base::Date other) const;
    // Same week-of-year number (weeks start on the locale's first weekday) and less
    // than seven days apart, either way.
    bool isSameWeekAsDate(base::Date date, base::Date other) const;
    bool isSameYearAsDate(base::Date date, base::Date other) const;

    // Today, tomorrow and yesterday are calendar days next to today's.
    bool isToday(base::Date date) const;
    bool isTomorrow(base::Date date) const;
    bool isYesterday(base::Date date) const;
    bool isThisWeek(base::Date date) const;
    bool isThisYear(base::Date date) const;

    // Now plus or minus whole days of 86,400 seconds.
    base::Date dateWithDaysFromNow(long days) const;
    base::Date dateWithDaysBeforeNow(long days) const;
    base::Date dateTomorrow() const;
    base::Date dateYesterday() const;

    base::Date now() const;

  private:
    struct Icu;
    std::optional<long> dayOffsetLocked(base::Date date, base::Date reference) const;
    bool sameWeekLocked(base::Date date, base::Date other) const;

    std::shared_ptr<base::Clock> clock_;
    mutable std::mutex mutex_;
    std::unique_ptr<Icu> icu_;
};
