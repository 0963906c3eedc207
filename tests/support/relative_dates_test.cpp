#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "base/Clock.h"
#include "support/OWRelativeDates.h"

namespace {

// Seconds since 1970 of a wall-clock time in Berlin, computed without ICU: `offset` is
// the zone's offset in hours then (1 in winter, 2 in summer).
double berlin(int year, int month, int day, int hour, int minute, int offset = 1) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    return static_cast<double>(timegm(&tm)) - offset * 3600;
}

base::Date at(double seconds) {
    return base::Date{seconds};
}

class RelativeDatesTest : public testing::Test {
  protected:
    // Each test moves the clock forward only, as a manual clock never goes back.
    std::shared_ptr<base::ManualClock> clock =
        std::make_shared<base::ManualClock>(berlin(2024, 1, 1, 0, 0));

    std::unique_ptr<OWRelativeDates> dates(const std::string& locale,
                                           const std::string& zone = "Europe/Berlin") {
        return std::make_unique<OWRelativeDates>(OWRelativeDates::Options{clock, locale, zone});
    }
    void setNow(double seconds) {
        ASSERT_GT(seconds, clock->now());
        clock->advance(seconds - clock->now());
    }
    void SetUp() override { setNow(berlin(2024, 3, 13, 15, 0)); }  // a Wednesday
};

TEST_F(RelativeDatesTest, TodayCountsSecondsMinutesAndHoursWithTheirPlurals) {
    for (const char* locale : {"en_US", "de_DE"}) {
        SCOPED_TRACE(locale);
        auto d = dates(locale);
        double now = clock->now();
        EXPECT_EQ(d->relativeDateStringFromNow(at(now - 1)), "1 second ago");
        EXPECT_EQ(d->relativeDateStringFromNow(at(now - 59.9)),
                  "59 seconds ago");  // cut, not rounded
        EXPECT_EQ(d->relativeDateStringFromNow(at(now - 60)), "1 minute ago");
        EXPECT_EQ(d->relativeDateStringFromNow(at(now - 3599)), "59 minutes ago");
        EXPECT_EQ(d->relativeDateStringFromNow(at(now - 3600)), "1 hour ago");
        EXPECT_EQ(d->relativeDateStringFromNow(at(berlin(2024, 3, 13, 0, 1))), "14 hours ago");
        // Now, and later today, are "now": zero takes the plural.
        EXPECT_EQ(d->relativeDateStringFromNow(at(now)), "0 seconds ago");
        EXPECT_EQ(d->relativeDateStringFromNow(at(berlin(2024, 3, 13, 23, 59))), "0 seconds ago");
    }
}

TEST_F(RelativeDatesTest, YesterdayIsTheCalendarDayBeforeNotTheLast24Hours) {
    clock = std::make_shared<base::ManualClock>(berlin(2024, 3, 13, 0, 30));
    auto en = dates("en_US");
    auto de = dates("de_DE");
    EXPECT_EQ(en->relativeDateStringFromNow(at(berlin(2024, 3, 12, 23, 50))), "Yesterday 23:50");
    EXPECT_EQ(de->relativeDateStringFromNow(at(berlin(2024, 3, 12, 0, 31))), "Yesterday 00:31");
    EXPECT_TRUE(en->isYesterday(at(berlin(2024, 3, 12, 0, 0))));
    // 24 h 40 min ago is the day before yesterday, in the same week.
    EXPECT_EQ(en->relativeDateStringFromNow(at(berlin(2024, 3, 11, 23, 50))), "Monday 23:50");
    EXPECT_EQ(de->relativeDateStringFromNow(at(berlin(2024, 3, 11, 23, 50))), "Montag 23:50");
    EXPECT_FALSE(en->isYesterday(at(berlin(2024, 3, 11, 23, 50))));
    EXPECT_TRUE(en->isTomorrow(at(berlin(2024, 3, 14, 23, 59))));
    EXPECT_FALSE(en->isTomorrow(at(berlin(2024, 3, 13, 23, 59))));

    // The day after the spring clock change: 24 hours before 00:30 is two days back,
    // yet 23:50 of the short Sunday is still yesterday.
    setNow(berlin(2024, 4, 1, 0, 30, 2));
    EXPECT_EQ(de->relativeDateStringFromNow(at(berlin(2024, 3, 31, 23, 50, 2))), "Yesterday 23:50");
    EXPECT_TRUE(de->isYesterday(at(berlin(2024, 3, 31, 1, 0))));
    EXPECT_FALSE(de->isYesterday(at(berlin(2024, 3, 30, 23, 50))));
    // The autumn change's long Sunday: 24 hours before 23:30 is still that day.
    setNow(berlin(2024, 10, 27, 23, 30));
    EXPECT_FALSE(de->isYesterday(at(berlin(2024, 10, 27, 0, 40, 2))));
    EXPECT_TRUE(de->isToday(at(berlin(2024, 10, 27, 0, 40, 2))));
}

TEST_F(RelativeDatesTest, WeekdayWithinTheWeekStartingOnTheLocalesFirstDay) {
    clock = std::make_shared<base::ManualClock>(berlin(2024, 3, 10, 10, 0));  // a Sunday
    auto en = dates("en_US");  // weeks start on Sunday
    auto de = dates("de_DE");  // weeks start on Monday
    base::Date friday = at(berlin(2024, 3, 8, 15, 0));
    EXPECT_EQ(de->relativeDateStringFromNow(friday), "Freitag 15:00");
    EXPECT_TRUE(de->isThisWeek(friday));
    // The Sunday began a new week in the US: month and day instead of the weekday.
    EXPECT_EQ(en->relativeDateStringFromNow(friday), "Mar 8 15:00");
    EXPECT_FALSE(en->isThisWeek(friday));

    // The same week number a year earlier is not this week.
    setNow(berlin(2024, 3, 13, 15, 0));
    base::Date lastYear = at(berlin(2023, 3, 15, 15, 0));
    for (auto* d : {en.get(), de.get()}) {
        EXPECT_TRUE(d->isThisWeek(at(berlin(2024, 3, 11, 15, 0))));
        EXPECT_FALSE(d->isThisWeek(lastYear));
    }
    EXPECT_EQ(en->relativeDateStringFromNow(lastYear), "Mar 15, 2023, 3:00:00\u202fPM");
    EXPECT_EQ(de->relativeDateStringFromNow(lastYear), "15.03.2023, 15:00:00");

    // A week that spans New Year is one week in both, and shows weekdays.
    setNow(berlin(2025, 1, 2, 10, 0));
    base::Date newYearsEve = at(berlin(2024, 12, 31, 15, 0));
    EXPECT_EQ(en->relativeDateStringFromNow(newYearsEve), "Tuesday 15:00");
    EXPECT_EQ(de->relativeDateStringFromNow(newYearsEve), "Dienstag 15:00");
    EXPECT_FALSE(de->isThisYear(newYearsEve));
}

TEST_F(RelativeDatesTest, ThisYearShowsMonthAndDayOlderDatesTheMediumStyle) {
    auto en = dates("en_US");
    auto de = dates("de_DE");
    base::Date january = at(berlin(2024, 1, 5, 8, 7));
    EXPECT_EQ(en->relativeDateStringFromNow(january), "Jan 5 08:07");
    EXPECT_EQ(de->relativeDateStringFromNow(january), "Jan. 5 08:07");
    EXPECT_TRUE(en->isThisYear(january));
    // A missing date reads as 0: midnight UTC, one in the morning in Berlin.
    EXPECT_EQ(en->relativeDateStringFromNow(at(0)), "Jan 1, 1970, 1:00:00\u202fAM");
    EXPECT_EQ(de->relativeDateStringFromNow(at(0)), "01.01.1970, 01:00:00");
    // Far outside the calendars' range is still a date, not a crash or an empty text.
    EXPECT_FALSE(de->relativeDateStringFromNow(at(1e300)).empty());
}

TEST_F(RelativeDatesTest, CalendarTestsAndDayArithmeticFollowTheTimeZone) {
    auto berlinDates = dates("de_DE");
    auto utcDates = dates("de_DE", "UTC");
    // 23:30 and 00:30 in Berlin are one UTC day (22:30Z and 23:30Z).
    base::Date lateEvening = at(berlin(2024, 3, 13, 23, 30));
    base::Date pastMidnight = at(berlin(2024, 3, 14, 0, 30));
    EXPECT_FALSE(berlinDates->isEqualToDateIgnoringTime(lateEvening, pastMidnight));
    EXPECT_TRUE(utcDates->isEqualToDateIgnoringTime(lateEvening, pastMidnight));
    EXPECT_TRUE(berlinDates->isSameYearAsDate(at(berlin(2024, 1, 1, 0, 0)),
                                              at(berlin(2024, 12, 31, 23, 59))));
    EXPECT_FALSE(berlinDates->isSameYearAsDate(at(berlin(2024, 1, 1, 0, 0)),
                                               at(berlin(2023, 12, 31, 23, 59))));

    double now = clock->now();
    EXPECT_EQ(berlinDates->dateWithDaysFromNow(3).secondsSince1970, now + 3 * 86400);
    EXPECT_EQ(berlinDates->dateWithDaysBeforeNow(2).secondsSince1970, now - 2 * 86400);
    EXPECT_EQ(berlinDates->dateTomorrow().secondsSince1970, now + 86400);
    EXPECT_EQ(berlinDates->dateYesterday().secondsSince1970, now - 86400);
    clock->advance(30);
    EXPECT_EQ(berlinDates->dateTomorrow().secondsSince1970, now + 30 + 86400);
}

}  // namespace
