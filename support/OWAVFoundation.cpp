#include "support/OWAVFoundation.h"

#include <cmath>
#include <limits>

#include "support/OWTimecode.h"

using platform::media::MediaTime;
using platform::media::MovieTrack;

double OWAVFoundation::fpsForAsset(const Asset& asset) {
    auto videos = asset.tracksOfType(MovieTrack::Type::Video);
    if (videos.empty() || !(videos.front().nominalFrameRate > 0)) {
        return kDefaultFPS;
    }
    return videos.front().nominalFrameRate;
}

uint64_t OWAVFoundation::framesAtTime(MediaTime time, double fps) {
    const double frames = std::round(time.seconds() * fps);
    // Converting a negative, infinite or NaN value to an unsigned count is undefined.
    if (!std::isfinite(frames) || frames < 0) {
        return 0;
    }
    if (frames >= 18446744073709551615.0) {
        return std::numeric_limits<uint64_t>::max();
    }
    return static_cast<uint64_t>(frames);
}

std::optional<std::string> OWAVFoundation::timecodeStartForAsset(
    const Asset& asset, std::optional<std::string> defaultStart) {
    auto timecodes = asset.tracksOfType(MovieTrack::Type::Timecode);
    if (timecodes.empty()) {
        return defaultStart;
    }
    return timecodeStartForAsset(asset, timecodes.front(), std::move(defaultStart));
}

std::optional<std::string> OWAVFoundation::timecodeStartForAsset(
    const Asset& asset, const MovieTrack& timecodeTrack, std::optional<std::string> defaultStart) {
    if (!isReadable(asset)) {
        return defaultStart;
    }
    const double fps = fpsForAsset(asset);
    const bool ntsc = static_cast<double>(static_cast<float>(std::round(fps))) != fps;
    const bool dropFrame = isDropFrame(asset);
    // A track that cannot be read gives the default, like one without a sample.
    auto frameNumber = asset.firstSampleNumber(timecodeTrack);
    if (!frameNumber) {
        return defaultStart;
    }
    const int64_t quanta = timecodeTrack.timecode ? timecodeTrack.timecode->frameQuanta : 0;
    return OWTimecode::timecodeFromFrameCount(*frameNumber, quanta, ntsc, dropFrame, 0);
}

bool OWAVFoundation::isDropFrame(const Asset& asset) {
    auto timecodes = asset.tracksOfType(MovieTrack::Type::Timecode);
    return !timecodes.empty() && timecodes.front().timecode &&
           timecodes.front().timecode->isDropFrame();
}

bool OWAVFoundation::isReadable(const Asset& asset) {
    const std::string& scheme = asset.scheme();
    const std::string& extension = asset.pathExtension();
    return asset.isReadable() && extension != "m3u" && extension != "m3u8" && scheme != "http" &&
           scheme != "https" && scheme != "ftp";
}
