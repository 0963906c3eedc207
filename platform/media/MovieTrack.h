#pragma once
// What a movie says about one of its tracks.
#include <cstdint>
#include <optional>

#include "platform/media/MediaTime.h"

namespace platform::media {

// The sample description of a QuickTime timecode track ('tmcd').
struct TimecodeDescription {
    static constexpr uint32_t kDropFrameFlag = 0x1;
    static constexpr uint32_t kWraps24HoursFlag = 0x2;
    static constexpr uint32_t kNegativeTimesFlag = 0x4;

    uint32_t flags = 0;
    uint32_t timescale = 0;
    uint32_t frameDuration = 0;
    uint32_t frameQuanta = 0;  // frames per second counted by the timecode

    bool isDropFrame() const { return (flags & kDropFrameFlag) != 0; }
};

struct MovieTrack {
    enum class Type { Video, Audio, Timecode, Subtitle, Other };

    int streamIndex = -1;
    Type type = Type::Other;
    double nominalFrameRate = 0;  // video: frames per second; 0 when unknown
    int width = 0;                // video: natural size in pixels
    int height = 0;
    // Video: how far the picture is turned clockwise for display (0, 90, 180 or 270),
    // from the track's display matrix.
    int rotation = 0;
    MediaTime duration;
    std::optional<TimecodeDescription> timecode;  // timecode tracks with a description
};

}  // namespace platform::media
