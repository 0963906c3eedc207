#pragma once
// SMPTE timecode: frame counts to "HH:MM:SS:FF" text and back, drop-frame counting
// (";" before the frames), typed shorthand, time of day and timecode arithmetic.
//
// Frames are counted at the integer timebase (24, 30 and 60 also stand for 23.976,
// 29.97 and 59.94); the NTSC flag never changes the count. Drop-frame applies only
// at timebase 30 or 60. A timebase of 0 or less counts at 30. A negative start frame
// means 107892, which is 01:00:00;00 at 30 drop-frame. Hours wrap at 24, also for
// totals below zero (they count back from 24:00:00:00).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class OWTimecode {
  public:
    // Longest timecode text the parsers look at; longer input is refused as unreadable.
    static constexpr size_t kMaxTimecodeText = 256;

    static std::string timecodeFromFrameCount(int64_t frameCount, int64_t timebase, bool ntsc,
                                              bool dropFrame, int64_t startFrame);
    // Fewer than four fields read as 0 (the start frame is then not subtracted).
    static int64_t frameCountFromTimecode(std::string_view timecode, int64_t timebase, bool ntsc,
                                          bool dropFrame, int64_t startFrame);

    // The text's count plus `incrementBy` (may be negative), counted from 0.
    static std::string timecode(std::string_view timecode, int64_t incrementBy, int64_t timebase,
                                bool ntsc, bool dropFrame);
    static std::string addTimecode(std::string_view timecode, std::string_view toTimecode,
                                   int64_t timebase, bool ntsc, bool dropFrame);
    // `fromTimecode` minus `timecode`; none when that would be below zero.
    static std::optional<std::string> subtractTimecode(std::string_view timecode,
                                                       std::string_view fromTimecode,
                                                       int64_t timebase, bool ntsc, bool dropFrame);
    // True for a text equal to start or end; else start <= text <= end at 24 fps.
    static bool timecodeInRange(std::string_view timecode, std::string_view start,
                                std::string_view end);

    // Without NTSC the timebase; with it 24, 30, 60 give timebase * 1000 / 1001, others 0.
    static double frameRateFromTimebase(int64_t timebase, bool isNTSC);
    static std::string timecodeFromSeconds(double seconds, float fps, bool dropFrame);
    // Expands what users type ("1.", "1..", "12345", "5.") into full timecode; an empty
    // `startTimecode` means "00:00:00:00" (or "00:00:00;00" with drop-frame).
    static std::string timecodeFromUserString(std::string_view text, bool dropFrame,
                                              std::string_view startTimecode = {});
    static std::string timeOfDayTimecode(int64_t timebase, bool ntsc, bool dropFrame);

    // Frame count to drop-frame numbering and back (SMPTE 12M); exact inverses at 30 and
    // 60. A rate that drops nothing leaves the count unchanged.
    static uint64_t addDroppedFrames(uint64_t frames, double fps);
    static uint64_t subtractDroppedFrames(uint64_t frames, double fps);

    // "01:00:00;00" -> "01.00.00.00".
    static std::string sanitizeTimecodeForFilename(std::string_view timecode);
};

// a - trunc(a / b) * b: the remainder with the quotient truncated toward zero.
double modulus(double a, double b);
