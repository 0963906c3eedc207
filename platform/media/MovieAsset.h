#pragma once
// A movie file read through FFmpeg's libraries: its tracks, duration and timecode
// samples, and single decoded frames for thumbnails.
//
// Only local files are opened: URLs of any scheme but "file" and playlists
// ("m3u", "m3u8") are refused before FFmpeg sees them, FFmpeg may use no protocol but
// its file protocol, and only movie and audio container formats are probed.
// An asset is immutable after it was made and may be used from any thread; every
// read opens the file afresh.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/image/RGBAImage.h"
#include "platform/media/MediaTime.h"
#include "platform/media/MovieTrack.h"

namespace platform::media {

// Frames are the suite's one picture type.
using RGBAImage = platform::image::RGBAImage;

class MovieAsset {
  public:
    // Largest decoded frame handed out (pixels).
    static constexpr int64_t kMaxFramePixels = 8192LL * 8192LL;
    // Packets read while looking for one sample before giving up.
    static constexpr int kMaxPacketsPerRead = 100'000;

    // From a URL text ("file:///movies/a%20b.mov"); an asset that is not readable for
    // anything but a local file URL.
    static MovieAsset fromURL(std::string_view url);
    // From a local path.
    static MovieAsset fromPath(std::string_view path);

    const std::string& url() const { return url_; }
    // Lower-case scheme of the URL ("file" for assets made from a path).
    const std::string& scheme() const { return scheme_; }
    // Lower-case extension of the URL's path, without the point.
    const std::string& pathExtension() const { return extension_; }
    // The local path; empty for URLs that are not local files.
    const std::string& path() const { return path_; }

    // True when the file was opened and its streams were read.
    bool isReadable() const { return readable_; }
    // Why the asset is not readable.
    const std::string& error() const { return error_; }

    // The longest track's duration; invalid when unknown.
    MediaTime duration() const { return duration_; }
    const std::vector<MovieTrack>& tracks() const { return tracks_; }
    std::vector<MovieTrack> tracksOfType(MovieTrack::Type type) const;

    // The first sample of the track that holds at least 4 bytes, read as a
    // big-endian 32-bit number (a timecode track's frame number); none when there is none.
    std::optional<uint32_t> firstSampleNumber(const MovieTrack& track) const;

    // The frame of the first video track shown at `seconds`, decoded and converted to RGBA;
    // with `applyRotation` turned as the track is displayed.
    std::optional<RGBAImage> frameAtTime(double seconds, bool applyRotation = false) const;
    // The image turned clockwise by 90, 180 or 270 degrees (other angles leave it).
    static RGBAImage rotated(const RGBAImage& image, int clockwiseDegrees);

  private:
    MovieAsset() = default;
    void open();

    std::string url_;
    std::string scheme_;
    std::string extension_;
    std::string path_;
    bool readable_ = false;
    std::string error_;
    MediaTime duration_;
    std::vector<MovieTrack> tracks_;
};

}  // namespace platform::media
