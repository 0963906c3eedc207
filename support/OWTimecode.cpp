#include "support/OWTimecode.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <ctime>
#include <limits>
#include <vector>

namespace {

using Wide = __int128;

constexpr int64_t kDefaultStartFrame = 107892;  // 01:00:00;00 at 30 drop-frame
constexpr int64_t kDefaultTimebase = 30;

int64_t effectiveTimebase(int64_t timebase) {
    return timebase > 0 ? timebase : kDefaultTimebase;
}
int64_t effectiveStart(int64_t startFrame) {
    return startFrame < 0 ? kDefaultStartFrame : startFrame;
}
bool dropFrameApplies(bool dropFrame, int64_t timebase) {
    return dropFrame && (timebase == 30 || timebase == 60);
}

int64_t clampToInt64(Wide v) {
    if (v > std::numeric_limits<int64_t>::max())
        return std::numeric_limits<int64_t>::max();
    if (v < std::numeric_limits<int64_t>::min())
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

Wide floorDiv(Wide a, Wide b) {
    Wide q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}
Wide floorMod(Wide a, Wide b) {
    return a - floorDiv(a, b) * b;
}

// The drop-frame constants of SMPTE 12M for a rate: frames dropped per minute, frames
// per ten minutes and frames per dropping minute. None when the rate drops nothing.
struct DropPattern {
    Wide dropped;
    Wide perTenMinutes;
    Wide perMinute;
    Wide rate;
};
std::optional<DropPattern> dropPattern(double fps) {
    if (!std::isfinite(fps) || fps <= 0 || fps > 1e6)
        return std::nullopt;
    const Wide r = static_cast<Wide>(std::llround(fps));
    const Wide d = static_cast<Wide>(std::llround(0.066666 * fps));
    const Wide t = 600 * r - 9 * d;
    const Wide m = 60 * r - d;
    if (d <= 0 || t <= 0 || m <= 0)
        return std::nullopt;
    return DropPattern{d, t, m, r};
}

Wide addDropped(Wide n, const DropPattern& p) {
    const Wide tens = floorDiv(n, p.perTenMinutes);
    const Wide rest = floorMod(n, p.perTenMinutes);
    Wide result = n + 9 * p.dropped * tens;
    if (rest > p.dropped)
        result += p.dropped * ((rest - p.dropped) / p.perMinute);
    return result;
}

Wide subtractDropped(Wide t, const DropPattern& p) {
    const Wide minutes = floorDiv(t, 60 * p.rate);
    return t - p.dropped * (minutes - floorDiv(minutes, 10));
}

// The integer at the start of a field, as a 32-bit reader of typed numbers would give it:
// leading blanks, an optional sign, digits; saturating; 0 when there is none.
int64_t leadingInteger(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    int64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = std::min<int64_t>(v * 10 + (s[i] - '0'), int64_t{INT_MAX} + 1);
    }
    if (negative)
        return std::max<int64_t>(-v, INT_MIN);
    return std::min<int64_t>(v, INT_MAX);
}

std::string_view trimmed(std::string_view s) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> splitFields(std::string_view s) {
    std::vector<std::string_view> parts;
    size_t from = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == ':' || s[i] == ';') {
            parts.push_back(s.substr(from, i - from));
            from = i + 1;
        }
    }
    return parts;
}

std::string twoDigits(int64_t v) {
    std::string s = std::to_string(v);
    if (v >= 0 && s.size() < 2)
        s.insert(0, "0");
    return s;
}

std::string label(Wide n, int64_t timebase, bool dropFrame) {
    const Wide seconds = n / timebase;
    const Wide frames = n - seconds * timebase;
    const auto hours = static_cast<int64_t>((seconds / 3600) % 24);
    const auto minutes = static_cast<int64_t>((seconds / 60) % 60);
    const auto secs = static_cast<int64_t>(seconds % 60);
    return twoDigits(hours) + ":" + twoDigits(minutes) + ":" + twoDigits(secs) +
           (dropFrame ? ";" : ":") + twoDigits(static_cast<int64_t>(frames));
}

// Typed text is grouped by characters, not bytes; bytes that are not UTF-8 read as
// U+FFFD so the result is always valid text.
std::u32string utf8ToUtf32(std::string_view in) {
    std::u32string out;
    for (size_t i = 0; i < in.size();) {
        const auto c = static_cast<unsigned char>(in[i]);
        const int len = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool ok = len > 0 && i + len <= in.size();
        for (int k = 1; ok && k < len; ++k) {
            const auto cc = static_cast<unsigned char>(in[i + k]);
            ok = (cc >> 6) == 2;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && cp >= kMin[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        out += ok ? cp : U'\uFFFD';
        i += ok ? len : 1;
    }
    return out;
}

std::string utf32ToUtf8(const std::u32string& in) {
    std::string out;
    for (char32_t cp : in) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// Step 2 of the shorthand: a trailing run of points (or commas) stands for zeros.
void expandTrailingRun(std::u32string& s, char32_t mark) {
    const std::u32string four(4, mark), three(3, mark), two(2, mark), one(1, mark);
    auto replaceSuffix = [&s](const std::u32string& suffix, const std::u32string& with) {
        if (s.size() >= suffix.size() &&
            s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0) {
            s.replace(s.size() - suffix.size(), suffix.size(), with);
        }
    };
    replaceSuffix(four, U"00000000");
    replaceSuffix(three, one + U"000000");
    replaceSuffix(two, one + U"0000");
    replaceSuffix(one, one + U"00");
}

std::u32string groupInPairs(const std::u32string& digits, bool dropFrame) {
    const std::u32string frames = digits.substr(digits.size() - 2);
    std::u32string rest = digits.substr(0, digits.size() - 2);
    std::vector<std::u32string> pairs;
    while (rest.size() >= 2) {
        pairs.insert(pairs.begin(), rest.substr(rest.size() - 2));
        rest.resize(rest.size() - 2);
    }
    if (!rest.empty())
        pairs.insert(pairs.begin(), U"0" + rest);
    std::u32string out;
    for (const auto& p : pairs) out += (out.empty() ? U"" : U":") + p;
    return out + (dropFrame ? U";" : U":") + frames;
}

}  // namespace

std::string OWTimecode::timecodeFromFrameCount(int64_t frameCount, int64_t timebase, bool,
                                               bool dropFrame, int64_t startFrame) {
    const int64_t tb = effectiveTimebase(timebase);
    const bool df = dropFrameApplies(dropFrame, tb);
    // Wrap into one day first: labels repeat every 24 hours, and counts below zero count
    // back from midnight instead of producing negative fields.
    const auto pattern = df ? dropPattern(static_cast<double>(tb)) : std::nullopt;
    const Wide day = pattern ? 144 * pattern->perTenMinutes : Wide{86400} * tb;
    Wide n = floorMod(Wide{frameCount} + effectiveStart(startFrame), day);
    if (pattern)
        n = addDropped(n, *pattern);
    return label(n, tb, df);
}

int64_t OWTimecode::frameCountFromTimecode(std::string_view timecode, int64_t timebase, bool,
                                           bool dropFrame, int64_t startFrame) {
    if (timecode.size() > kMaxTimecodeText)
        return 0;
    const int64_t tb = effectiveTimebase(timebase);
    const auto parts = splitFields(trimmed(timecode));
    if (parts.size() < 4)
        return 0;
    const Wide hours = leadingInteger(parts[0]), minutes = leadingInteger(parts[1]),
               seconds = leadingInteger(parts[2]), frames = leadingInteger(parts[3]);
    Wide n = (hours * 3600 + minutes * 60 + seconds) * tb + frames;
    if (dropFrameApplies(dropFrame, tb))
        n = subtractDropped(n, *dropPattern(static_cast<double>(tb)));
    return clampToInt64(n - effectiveStart(startFrame));
}

std::string OWTimecode::timecode(std::string_view timecode, int64_t incrementBy, int64_t timebase,
                                 bool ntsc, bool dropFrame) {
    const Wide n =
        Wide{frameCountFromTimecode(timecode, timebase, ntsc, dropFrame, 0)} + incrementBy;
    return timecodeFromFrameCount(clampToInt64(n), timebase, ntsc, dropFrame, 0);
}

std::string OWTimecode::addTimecode(std::string_view timecode, std::string_view toTimecode,
                                    int64_t timebase, bool ntsc, bool dropFrame) {
    const Wide n = Wide{frameCountFromTimecode(timecode, timebase, ntsc, dropFrame, 0)} +
                   frameCountFromTimecode(toTimecode, timebase, ntsc, dropFrame, 0);
    return timecodeFromFrameCount(clampToInt64(n), timebase, ntsc, dropFrame, 0);
}

std::optional<std::string> OWTimecode::subtractTimecode(std::string_view timecode,
                                                        std::string_view fromTimecode,
                                                        int64_t timebase, bool ntsc,
                                                        bool dropFrame) {
    const int64_t first = frameCountFromTimecode(timecode, timebase, ntsc, dropFrame, 0);
    const int64_t second = frameCountFromTimecode(fromTimecode, timebase, ntsc, dropFrame, 0);
    if (static_cast<uint64_t>(second) < static_cast<uint64_t>(first))
        return std::nullopt;
    return timecodeFromFrameCount(clampToInt64(Wide{second} - first), timebase, ntsc, dropFrame, 0);
}

bool OWTimecode::timecodeInRange(std::string_view timecode, std::string_view start,
                                 std::string_view end) {
    if (timecode == start || timecode == end)
        return true;
    auto count = [](std::string_view t) {
        return static_cast<uint64_t>(frameCountFromTimecode(t, 24, false, false, 0));
    };
    const uint64_t n = count(timecode);
    return count(start) <= n && n <= count(end);
}

double OWTimecode::frameRateFromTimebase(int64_t timebase, bool isNTSC) {
    if (!isNTSC)
        return static_cast<double>(timebase);
    if (timebase == 24 || timebase == 30 || timebase == 60) {
        return static_cast<double>(timebase) * 1000.0 / 1001.0;
    }
    return 0;
}

std::string OWTimecode::timecodeFromSeconds(double seconds, float fps, bool dropFrame) {
    const double rate = std::isfinite(fps) ? static_cast<double>(fps) : 0.0;
    double frames = std::round(seconds * rate);
    if (!std::isfinite(frames))
        frames = 0;
    frames = std::clamp(frames, -9.0e18, 9.0e18);
    const double timebase = std::clamp(std::ceil(rate), -1.0e9, 1.0e9);
    return timecodeFromFrameCount(static_cast<int64_t>(frames), static_cast<int64_t>(timebase),
                                  rate != std::floor(rate), dropFrame, 0);
}

std::string OWTimecode::timecodeFromUserString(std::string_view text, bool dropFrame,
                                               std::string_view startTimecode) {
    if (text.size() > kMaxTimecodeText)
        text = text.substr(0, kMaxTimecodeText);
    std::u32string s = utf8ToUtf32(text);
    if (s.size() == 11)
        return std::string(text);
    expandTrailingRun(s, U'.');
    expandTrailingRun(s, U',');

    std::u32string joined;
    std::u32string piece;
    auto flush = [&] {
        if (piece.size() == 1)
            joined += U'0';
        joined += piece;
        piece.clear();
    };
    for (char32_t c : s) {
        if (c == U'.' || c == U',') {
            flush();
        } else if (c != U':' && c != U';') {
            piece += c;
        }
    }
    flush();
    if (joined.size() >= 9)
        joined = joined.substr(joined.size() - 8);
    if (joined.size() >= 3)
        joined = groupInPairs(joined, dropFrame);

    std::u32string start =
        utf8ToUtf32(startTimecode.substr(0, std::min(startTimecode.size(), kMaxTimecodeText)));
    if (start.empty())
        start = dropFrame ? U"00:00:00;00" : U"00:00:00:00";
    if (start.size() > joined.size())
        joined = start.substr(0, start.size() - joined.size()) + joined;
    return utf32ToUtf8(joined);
}

std::string OWTimecode::timeOfDayTimecode(int64_t timebase, bool ntsc, bool dropFrame) {
    const double rate = frameRateFromTimebase(timebase, ntsc);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    const int64_t hundredths = now.tv_nsec / 10'000'000;
    const double frames = std::floor(static_cast<double>(hundredths) / 100.0 * rate);
    const auto framesValue =
        std::isfinite(frames) ? static_cast<int64_t>(std::clamp(frames, 0.0, 1e9)) : 0;
    return twoDigits(local.tm_hour) + ":" + twoDigits(local.tm_min) + ":" +
           twoDigits(local.tm_sec) + (dropFrame ? ";" : ":") + twoDigits(framesValue);
}

uint64_t OWTimecode::addDroppedFrames(uint64_t frames, double fps) {
    const auto pattern = dropPattern(fps);
    if (!pattern)
        return frames;
    const Wide n = addDropped(Wide{frames}, *pattern);
    return n > std::numeric_limits<uint64_t>::max() ? std::numeric_limits<uint64_t>::max()
                                                    : static_cast<uint64_t>(n);
}

uint64_t OWTimecode::subtractDroppedFrames(uint64_t frames, double fps) {
    const auto pattern = dropPattern(fps);
    if (!pattern)
        return frames;
    return static_cast<uint64_t>(subtractDropped(Wide{frames}, *pattern));
}

std::string OWTimecode::sanitizeTimecodeForFilename(std::string_view timecode) {
    std::string out(timecode);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == ':' || c == ';'; }, '.');
    return out;
}

double modulus(double a, double b) {
    return a - std::trunc(a / b) * b;
}
