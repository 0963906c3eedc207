#pragma once
// The timing of a movie: its frame rate, a frame count for a time, the start timecode
// of its timecode track and that timecode's drop-frame flag. Every failure gives the
// neutral answer (the default start, false, 29.97 frames per second or 0 frames).
#include <cstdint>
#include <optional>
#include <string>

#include "platform/media/MediaTime.h"
#include "platform/media/MovieAsset.h"
#include "platform/media/MovieTrack.h"

class OWAVFoundation {
  public:
    using Asset = platform::media::MovieAsset;
    static constexpr double kDefaultFPS = 29.97;

    OWAVFoundation() = delete;

    // Nominal frame rate of the first video track; 29.97 without one or when unknown.
    static double fpsForAsset(const Asset& asset);
    // round(seconds × fps); 0 for a time or product that is not a finite, positive number.
    static uint64_t framesAtTime(platform::media::MediaTime time, double fps);
    // The start timecode of the first timecode track, else the default.
    static std::optional<std::string> timecodeStartForAsset(
        const Asset& asset, std::optional<std::string> defaultStart);
    static std::optional<std::string> timecodeStartForAsset(
        const Asset& asset, const platform::media::MovieTrack& timecodeTrack,
        std::optional<std::string> defaultStart);
    // True when the first timecode track's description has the drop-frame flag.
    static bool isDropFrame(const Asset& asset);
    // Readable by the media libraries, and neither a playlist nor a network URL.
    static bool isReadable(const Asset& asset);
};
