#pragma once
// The timing of a shared movie, read as the share road needs it: the sequence's frame
// rate, drop-frame flag and start frame from the editor's FCPXML, and the movie's own
// timing and thumbnail frame. Nothing here reads the whole movie.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/image/RGBAImage.h"
#include "platform/media/MovieAsset.h"

namespace sam {

// Longest FCPXML text written to the system log; the rest is left out and counted.
inline constexpr size_t kMaxLoggedXMLBytes = 64 * 1024;
// Longest text of a command's descriptors written to the log.
inline constexpr size_t kMaxLoggedDescriptorBytes = 4 * 1024;

struct SequenceTiming {
    double fps = 0;  // 0: the FCPXML gave no frame rate
    bool dropFrame = false;
    int64_t zeroPoint = 0;
};

// Reads the FCPXML at `path`: the first sequence (else the first clip of any kind),
// its format's frame duration, "tcFormat" and "tcStart" (else "start"). Writes the
// share road's lines to the system log. An unreadable file gives frame rate 0.
SequenceTiming readSequenceTiming(const std::string& path);

// "xml data: " and the text, cut at kMaxLoggedXMLBytes (on a character boundary) with a
// note of how many bytes were left out.
std::string xmlLogLine(const std::string& text);

struct MovieTiming {
    double fps = 0;
    uint64_t durationFrames = 0;
    bool dropFrame = false;
    int64_t zeroPoint = 0;
    double thumbnailSeconds = 0;  // ceil(0.1 x duration)
};
MovieTiming readMovieTiming(const platform::media::MovieAsset& movie);

// The frame shown at `seconds`, turned as the track is displayed.
std::optional<platform::image::RGBAImage> thumbnailFrame(const platform::media::MovieAsset& movie,
                                                         double seconds);

}  // namespace sam
