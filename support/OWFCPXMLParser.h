#pragma once
// Time values of FCPXML documents ("1001/30000s", "3600s") and the markers of a
// project's sequence.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Value.h"

namespace platform::xml {
class Node;
}

class OWFCPXMLParser {
  public:
    OWFCPXMLParser() = delete;

    // "a/bs" gives a / b, "as" gives a; more parts, a zero divisor or no text give 0.
    static double secondsFromTimeString(std::optional<std::string_view> text);
    // The numerator of the time divided by the frame duration's numerator, truncated;
    // the time must be written in the frame duration's timebase. 0 for a numerator of
    // 0 and for times that are negative or not a number.
    static uint64_t framesFromTimeString(std::optional<std::string_view> text,
                                         uint64_t frameDuration);
    // "1001/30000s" gives 30000 / 1001, "as" gives 1 / a; 0 when unknown.
    static double fpsFromFrameDuration(std::optional<std::string_view> text);
    // The numerator of a frame duration ("1001/30000s" gives 1001).
    static uint64_t multiplierFromFrameDuration(std::optional<std::string_view> text);

    // The markers of the first project's sequence, as records {"name", "startTimecode"}
    // (with `useTimecode`) or {"name", "seconds"}. A relative hour of 0 or more counts
    // timecode hours from that hour.
    static std::vector<base::Dictionary> markersFromXMLFile(const std::string& path,
                                                            bool useTimecode,
                                                            bool stripDuplicates = false,
                                                            bool mainStorylineOnly = true,
                                                            int64_t relativeHour = -1);

  private:
    struct Timing;
    static Timing sequenceTiming(const platform::xml::Node& document, bool useTimecode);
    static std::optional<std::string> sequenceFrameDuration(const platform::xml::Node& document);
    static std::string relativeTimecode(const std::string& timecode, int64_t relativeHour);
};
