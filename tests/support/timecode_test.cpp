#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <string>

extern "C" {
#include <libavutil/rational.h>
#include <libavutil/timecode.h>
}

#include "support/OWTimecode.h"

namespace {

struct RateCase {
    int timebase;
    bool dropFrame;
};

class TimecodeDayTest : public testing::TestWithParam<RateCase> {};

// Every frame of a day converts to a label and back to the same count, and consecutive
// frames never share a label.
TEST_P(TimecodeDayTest, EveryFrameOfADayRoundTrips) {
    const auto [tb, df] = GetParam();
    const int64_t day = df ? 144 * (600 * tb - 9 * (tb / 15)) : int64_t{86400} * tb;
    std::string previous;
    for (int64_t n = 0; n < day; ++n) {
        const std::string tc = OWTimecode::timecodeFromFrameCount(n, tb, df, df, 0);
        ASSERT_EQ(OWTimecode::frameCountFromTimecode(tc, tb, df, df, 0), n) << tc;
        ASSERT_NE(tc, previous);
        previous = tc;
    }
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(day, tb, df, df, 0),
              df ? "00:00:00;00" : "00:00:00:00");
}

INSTANTIATE_TEST_SUITE_P(Rates, TimecodeDayTest,
                         testing::Values(RateCase{30, true}, RateCase{60, true},
                                         RateCase{24, false}, RateCase{25, false}),
                         [](const auto& info) {
                             return std::to_string(info.param.timebase) +
                                    (info.param.dropFrame ? "DF" : "NDF");
                         });

// FFmpeg's libavutil timecode functions are an independent implementation of the SMPTE
// drop-frame labels; every label of a whole day must agree with them.
void crossCheckWithLibavutil(AVRational rate, int timebase) {
    AVTimecode tc{};
    ASSERT_EQ(av_timecode_init(&tc, rate, AV_TIMECODE_FLAG_DROPFRAME | AV_TIMECODE_FLAG_24HOURSMAX,
                               0, nullptr),
              0);
    const int day = 144 * (600 * timebase - 9 * (timebase / 15));
    char buf[AV_TIMECODE_STR_SIZE];
    int checked = 0;
    for (int n = 0; n < day; ++n) {
        av_timecode_make_string(&tc, buf, n);
        ASSERT_EQ(OWTimecode::timecodeFromFrameCount(n, timebase, true, true, 0), buf) << n;
        ASSERT_EQ(OWTimecode::frameCountFromTimecode(buf, timebase, true, true, 0), n) << buf;
        ++checked;
    }
    testing::Test::RecordProperty("labels_checked", checked);
}

TEST(TimecodeLibavutil, DropFrame2997MatchesEveryLabel) {
    crossCheckWithLibavutil({30000, 1001}, 30);
}

TEST(TimecodeLibavutil, DropFrame5994MatchesEveryLabel) {
    crossCheckWithLibavutil({60000, 1001}, 60);
}

TEST(TimecodeConversion, PublishedDropFrameLabels) {
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(1799, 30, true, true, 0), "00:00:59;29");
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(1800, 30, true, true, 0), "00:01:00;02");
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(17982, 30, true, true, 0), "00:10:00;00");
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(107892, 30, true, true, 0), "01:00:00;00");
    for (int64_t n : {1799, 1800, 17982, 107892}) {
        EXPECT_EQ(OWTimecode::frameCountFromTimecode(
                      OWTimecode::timecodeFromFrameCount(n, 30, true, true, 0), 30, true, true, 0),
                  n);
    }
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(3600, 60, true, true, 0), "00:01:00;04");
}

TEST(TimecodeConversion, StartFrameAndTimebaseDefaults) {
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(0, 30, false, false, -1), "00:59:56:12");
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(0, 30, true, true, -1), "01:00:00;00");
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(0, 0, false, false, 0), "00:00:00:00");
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(45, 0, false, false, 0), "00:00:01:15");
    EXPECT_EQ(OWTimecode::frameCountFromTimecode("01:00:00;00", 30, true, true, -1), 0);
    EXPECT_EQ(OWTimecode::frameCountFromTimecode("01:00:00:10", 25, false, false, 90000), 10);
}

TEST(TimecodeConversion, DropFrameOnlyAtThirtyAndSixty) {
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(1500, 25, false, true, 0), "00:01:00:00");
    EXPECT_EQ(OWTimecode::frameCountFromTimecode("00:01:00;00", 25, false, true, 0), 1500);
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(1440, 24, true, true, 0), "00:01:00:00");
}

TEST(TimecodeConversion, HoursWrapAndNegativeTotalsCountBackFromMidnight) {
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(30 * 86400, 30, false, false, 0), "00:00:00:00");
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(-1, 30, false, false, 0), "23:59:59:29");
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(-1, 30, true, true, 0), "23:59:59;29");
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(INT64_MIN, 30, false, false, 0).size(), 11u);
    EXPECT_EQ(OWTimecode::timecodeFromFrameCount(INT64_MAX, 60, true, true, 100).size(), 11u);
}

TEST(TimecodeParsing, FieldsAndMalformedText) {
    EXPECT_EQ(OWTimecode::frameCountFromTimecode("00:01:02", 30, false, false, 0), 0);
    EXPECT_EQ(OWTimecode::frameCountFromTimecode("00:01:02", 30, false, false, 50), 0);
    EXPECT_EQ(OWTimecode::frameCountFromTimecode("  00:00:01:05\n", 30, false, false, 0), 35);
    EXPECT_EQ(OWTimecode::frameCountFromTimecode("00:00:01:05:99", 30, false, false, 0), 35);
    EXPECT_EQ(OWTimecode::frameCountFromTimecode("00:xx:1a:5", 30, false, false, 0), 35);
    EXPECT_EQ(OWTimecode::frameCountFromTimecode("::", 30, false, false, 0), 0);
    EXPECT_EQ(OWTimecode::frameCountFromTimecode(":::", 30, false, false, 7), -7);
    // Huge fields saturate instead of overflowing.
    EXPECT_GT(OWTimecode::frameCountFromTimecode("99999999999:99999999999:0:0", 60, true, true, 0),
              0);
    EXPECT_EQ(OWTimecode::frameCountFromTimecode(std::string(300, '1'), 30, false, false, 0), 0);
}

TEST(TimecodeArithmetic, IncrementAddSubtract) {
    EXPECT_EQ(OWTimecode::timecode("00:00:59;29", 1, 30, true, true), "00:01:00;02");
    EXPECT_EQ(OWTimecode::timecode("00:01:00;02", -1, 30, true, true), "00:00:59;29");
    EXPECT_EQ(OWTimecode::addTimecode("00:00:10:00", "01:00:00:05", 25, false, false),
              "01:00:10:05");
    EXPECT_EQ(OWTimecode::subtractTimecode("00:00:10:00", "01:00:00:05", 25, false, false),
              "00:59:50:05");
    EXPECT_EQ(OWTimecode::subtractTimecode("01:00:00:05", "00:00:10:00", 25, false, false),
              std::nullopt);
    EXPECT_EQ(OWTimecode::subtractTimecode("00:00:10:00", "00:00:10:00", 25, false, false),
              "00:00:00:00");
}

TEST(TimecodeArithmetic, InRange) {
    EXPECT_TRUE(OWTimecode::timecodeInRange("00:00:05:00", "00:00:01:00", "00:00:10:00"));
    EXPECT_FALSE(OWTimecode::timecodeInRange("00:00:11:00", "00:00:01:00", "00:00:10:00"));
    // Equal to the end wins even when the end lies before the start.
    EXPECT_TRUE(OWTimecode::timecodeInRange("00:00:01:00", "00:00:10:00", "00:00:01:00"));
    EXPECT_FALSE(OWTimecode::timecodeInRange("00:00:05:00", "00:00:10:00", "00:00:01:00"));
}

TEST(TimecodeRates, FrameRatesAndSeconds) {
    EXPECT_DOUBLE_EQ(OWTimecode::frameRateFromTimebase(30, true), 30000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(OWTimecode::frameRateFromTimebase(24, true), 24000.0 / 1001.0);
    EXPECT_DOUBLE_EQ(OWTimecode::frameRateFromTimebase(25, true), 0.0);
    EXPECT_DOUBLE_EQ(OWTimecode::frameRateFromTimebase(25, false), 25.0);
    EXPECT_EQ(OWTimecode::timecodeFromSeconds(61.0, 25.0f, false), "00:01:01:00");
    EXPECT_EQ(OWTimecode::timecodeFromSeconds(60.06, 29.97f, true), "00:01:00;02");
    EXPECT_EQ(OWTimecode::timecodeFromSeconds(std::nan(""), 25.0f, false), "00:00:00:00");
    EXPECT_EQ(OWTimecode::timecodeFromSeconds(1e300, 25.0f, false).size(), 11u);
}

TEST(TimecodeDroppedFrames, CountsAndDegenerateRates) {
    EXPECT_EQ(OWTimecode::addDroppedFrames(1800, 29.97), 1802u);
    EXPECT_EQ(OWTimecode::subtractDroppedFrames(1802, 29.97), 1800u);
    EXPECT_EQ(OWTimecode::addDroppedFrames(17982, 30), 18000u);
    EXPECT_EQ(OWTimecode::addDroppedFrames(35964, 59.94), 36000u);
    EXPECT_EQ(OWTimecode::addDroppedFrames(1234, 0), 1234u);
    EXPECT_EQ(OWTimecode::addDroppedFrames(1234, std::nan("")), 1234u);
    EXPECT_EQ(OWTimecode::subtractDroppedFrames(1234, -5), 1234u);
}

TEST(TimecodeUserString, Shorthand) {
    EXPECT_EQ(OWTimecode::timecodeFromUserString("1.", false), "00:00:01:00");
    EXPECT_EQ(OWTimecode::timecodeFromUserString("1.2.", false), "00:01:02:00");
    EXPECT_EQ(OWTimecode::timecodeFromUserString("1...", false), "01:00:00:00");
    EXPECT_EQ(OWTimecode::timecodeFromUserString("1,,,", false), "01:00:00:00");
    EXPECT_EQ(OWTimecode::timecodeFromUserString("12345", true), "00:01:23;45");
    EXPECT_EQ(OWTimecode::timecodeFromUserString("", false), "00:00:00:00");
    EXPECT_EQ(OWTimecode::timecodeFromUserString("", true), "00:00:00;00");
    EXPECT_EQ(OWTimecode::timecodeFromUserString("5.", false, "01:00:00:00"), "01:00:05:00");
    EXPECT_EQ(OWTimecode::timecodeFromUserString("01:02:03:04", true), "01:02:03:04");
    EXPECT_EQ(OWTimecode::timecodeFromUserString("123456789", false), "23:45:67:89");
    EXPECT_EQ(OWTimecode::timecodeFromUserString("7", false), "00:00:00:07");
}

TEST(TimecodeUserString, NonAsciiStaysValidText) {
    const std::string out = OWTimecode::timecodeFromUserString("\xC3\xA9\xC3\xA9\xC3\xA9", false);
    EXPECT_EQ(out, "00:00:0\xC3\xA9:\xC3\xA9\xC3\xA9");
    const std::string bad = OWTimecode::timecodeFromUserString("\xFF\xFE\x80", false);
    EXPECT_EQ(bad, "00:00:0\xEF\xBF\xBD:\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(TimecodeMisc, TimeOfDaySanitizeModulus) {
    const std::regex shape("[0-2][0-9]:[0-5][0-9]:[0-6][0-9];[0-9][0-9]");
    EXPECT_TRUE(std::regex_match(OWTimecode::timeOfDayTimecode(30, true, true), shape));
    EXPECT_TRUE(
        std::regex_search(OWTimecode::timeOfDayTimecode(25, true, false), std::regex(":00$")));
    EXPECT_EQ(OWTimecode::sanitizeTimecodeForFilename("01:00:00;00"), "01.00.00.00");
    EXPECT_DOUBLE_EQ(modulus(7.5, 2), 1.5);
    EXPECT_DOUBLE_EQ(modulus(-7.5, 2), -1.5);
}

}  // namespace
