#include "platform/media/MovieAsset.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>

#include "base/Url.h"

namespace platform::media {
namespace {

// Container formats a movie or its sound may come in; nothing that reads lists
// of other files (playlists, concatenation scripts) or devices.
constexpr const char* kFormatWhitelist = "mov,matroska,avi,mpegts,mxf,wav,aiff,mp3,aac,flac,ogg";

void quietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string lowercase(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// A decoded path; none for a malformed escape or a NUL byte, which no file name holds.
std::optional<std::string> percentDecode(std::string_view s) {
    auto out = base::Url::percentDecode(s);
    if (out && out->find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return out;
}

// The scheme of a URL text ("" when it has none).
std::string schemeOf(std::string_view url) {
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0 ||
        !std::isalpha(static_cast<unsigned char>(url[0]))) {
        return {};
    }
    for (size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
            return {};
        }
    }
    return lowercase(url.substr(0, colon));
}

std::string extensionOf(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = last.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    return lowercase(last.substr(dot + 1));
}

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
using Input = std::unique_ptr<AVFormatContext, FormatCloser>;

struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ScaleFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

Input openInput(const std::string& path, std::string& error) {
    quietLibraries();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", kFormatWhitelist, 0);
    AVFormatContext* raw = nullptr;
    // "file:" keeps a colon inside the path from reading as a protocol name.
    const std::string url = "file:" + path;
    const int rc = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) {
        error = errorText(rc);
        return nullptr;
    }
    return Input(raw);
}

double nominalRate(const AVStream* st) {
    for (AVRational r : {st->avg_frame_rate, st->r_frame_rate}) {
        if (r.num > 0 && r.den > 0) {
            return av_q2d(r);
        }
    }
    return 0;
}

MediaTime streamDuration(const AVStream* st) {
    if (st->duration == AV_NOPTS_VALUE || st->duration < 0 || st->time_base.den <= 0) {
        return MediaTime::invalid();
    }
    int64_t value = 0;
    if (st->time_base.num <= 0 ||
        __builtin_mul_overflow(st->duration, static_cast<int64_t>(st->time_base.num), &value)) {
        return MediaTime::invalid();
    }
    return MediaTime::make(value, st->time_base.den);
}

std::optional<TimecodeDescription> timecodeDescription(const AVCodecParameters* par) {
    if (par->extradata == nullptr || par->extradata_size < 17) {
        return std::nullopt;
    }
    TimecodeDescription d;
    d.flags = AV_RB32(par->extradata + 4);
    d.timescale = AV_RB32(par->extradata + 8);
    d.frameDuration = AV_RB32(par->extradata + 12);
    d.frameQuanta = par->extradata[16];
    return d;
}

// The clockwise turn of the display matrix, to the nearest quarter.
int displayRotation(const AVStream* st) {
    size_t size = 0;
    const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix == nullptr || size < 9 * sizeof(int32_t)) {
        return 0;
    }
    const double counterClockwise =
        av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (!std::isfinite(counterClockwise)) {
        return 0;
    }
    const long quarters = std::lround(-counterClockwise / 90.0);
    return static_cast<int>(((quarters % 4) + 4) % 4) * 90;
}

MovieTrack describe(const AVStream* st) {
    MovieTrack t;
    t.streamIndex = st->index;
    t.duration = streamDuration(st);
    const AVCodecParameters* par = st->codecpar;
    switch (par->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            // Cover art inside a sound file is no picture track.
            if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
                t.type = MovieTrack::Type::Video;
                t.nominalFrameRate = nominalRate(st);
                t.width = par->width;
                t.height = par->height;
                t.rotation = displayRotation(st);
            }
            break;
        case AVMEDIA_TYPE_AUDIO:
            t.type = MovieTrack::Type::Audio;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            t.type = MovieTrack::Type::Subtitle;
            break;
        case AVMEDIA_TYPE_DATA:
            if (par->codec_tag == MKTAG('t', 'm', 'c', 'd')) {
                t.type = MovieTrack::Type::Timecode;
                t.timecode = timecodeDescription(par);
            }
            break;
        default:
            break;
    }
    return t;
}

// Reads packets of one stream only, the others being skipped by the demuxer.
class PacketReader {
  public:
    PacketReader(AVFormatContext* ctx, int stream) : ctx_(ctx), stream_(stream) {
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            ctx->streams[i]->discard =
                static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        }
    }
    // The next packet of the stream (owned by the reader until the next call); null at the end.
    AVPacket* next() {
        if (!packet_) {
            return nullptr;
        }
        while (reads_ < MovieAsset::kMaxPacketsPerRead) {
            av_packet_unref(packet_.get());
            ++reads_;
            if (av_read_frame(ctx_, packet_.get()) < 0) {
                return nullptr;
            }
            if (packet_->stream_index == stream_) {
                return packet_.get();
            }
        }
        return nullptr;
    }

  private:
    AVFormatContext* ctx_;
    int stream_;
    int reads_ = 0;
    std::unique_ptr<AVPacket, PacketFree> packet_{av_packet_alloc()};
};

std::optional<RGBAImage> toRGBA(const AVFrame* frame) {
    const int w = frame->width;
    const int h = frame->height;
    if (w <= 0 || h <= 0 || static_cast<int64_t>(w) * h > MovieAsset::kMaxFramePixels) {
        return std::nullopt;
    }
    std::unique_ptr<SwsContext, ScaleFree> scale(
        sws_getContext(w, h, static_cast<AVPixelFormat>(frame->format), w, h, AV_PIX_FMT_RGBA,
                       SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scale) {
        return std::nullopt;
    }
    auto image = RGBAImage::blank(w, h);
    if (!image) {
        return std::nullopt;
    }
    uint8_t* planes[4] = {image->pixels().data(), nullptr, nullptr, nullptr};
    int strides[4] = {w * 4, 0, 0, 0};
    if (sws_scale(scale.get(), frame->data, frame->linesize, 0, h, planes, strides) != h) {
        return std::nullopt;
    }
    return image;
}

// Decodes frames until the one shown at `target` (stream time base) is in `kept`.
class FrameFinder {
  public:
    FrameFinder(AVCodecContext* codec, int64_t target) : codec_(codec), target_(target) {}

    // Feeds one packet (null to drain); true once the wanted frame is known.
    bool feed(const AVPacket* packet) {
        if (avcodec_send_packet(codec_, packet) < 0 && packet == nullptr) {
            return true;
        }
        while (avcodec_receive_frame(codec_, frame_.get()) >= 0) {
            const int64_t pts = frame_->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE && pts > target_ && haveKept_) {
                av_frame_unref(frame_.get());
                return true;  // the kept frame is still showing at the target
            }
            av_frame_unref(kept_.get());
            av_frame_move_ref(kept_.get(), frame_.get());
            haveKept_ = true;
            if (pts != AV_NOPTS_VALUE && pts >= target_) {
                return true;
            }
        }
        return false;
    }
    const AVFrame* kept() const { return haveKept_ ? kept_.get() : nullptr; }

  private:
    AVCodecContext* codec_;
    int64_t target_;
    bool haveKept_ = false;
    std::unique_ptr<AVFrame, FrameFree> frame_{av_frame_alloc()};
    std::unique_ptr<AVFrame, FrameFree> kept_{av_frame_alloc()};
};

}  // namespace

MovieAsset MovieAsset::fromURL(std::string_view url) {
    MovieAsset asset;
    asset.url_ = std::string(url);
    asset.scheme_ = schemeOf(url);
    std::string_view rest = url.substr(asset.scheme_.empty() ? 0 : asset.scheme_.size() + 1);
    const size_t tail = rest.find_first_of("?#");
    asset.extension_ = extensionOf(rest.substr(0, tail));
    if (asset.scheme_ != "file") {
        asset.error_ = "Only local files can be opened";
        return asset;
    }
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const size_t slash = rest.find('/');
        std::string_view host = rest.substr(0, slash);
        if (slash == std::string_view::npos || !(host.empty() || lowercase(host) == "localhost")) {
            asset.error_ = "Only local files can be opened";
            return asset;
        }
        rest.remove_prefix(slash);
    }
    auto path = percentDecode(rest.substr(0, tail));
    if (!path || path->empty() || (*path)[0] != '/') {
        asset.error_ = "The URL does not name a file";
        return asset;
    }
    asset.path_ = *path;
    asset.extension_ = extensionOf(asset.path_);
    asset.open();
    return asset;
}

MovieAsset MovieAsset::fromPath(std::string_view path) {
    MovieAsset asset;
    asset.scheme_ = "file";
    if (path.empty() || path.find('\0') != std::string_view::npos) {
        asset.error_ = "No file";
        return asset;
    }
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(std::string(path), ec);
    asset.path_ = ec ? std::string(path) : absolute.string();
    asset.url_ = "file://" + asset.path_;
    asset.extension_ = extensionOf(asset.path_);
    asset.open();
    return asset;
}

void MovieAsset::open() {
    if (extension_ == "m3u" || extension_ == "m3u8") {
        error_ = "Playlists are not opened";
        return;
    }
    Input input = openInput(path_, error_);
    if (!input) {
        return;
    }
    const int rc = avformat_find_stream_info(input.get(), nullptr);
    if (rc < 0) {
        error_ = errorText(rc);
        return;
    }
    double longest = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        MovieTrack track = describe(input->streams[i]);
        if (track.duration.valid && track.duration.seconds() > longest) {
            longest = track.duration.seconds();
            duration_ = track.duration;
        }
        tracks_.push_back(track);
    }
    if (!duration_.valid && input->duration != AV_NOPTS_VALUE && input->duration >= 0) {
        duration_ = MediaTime::make(input->duration, AV_TIME_BASE);
    }
    readable_ = true;
}

std::vector<MovieTrack> MovieAsset::tracksOfType(MovieTrack::Type type) const {
    std::vector<MovieTrack> result;
    std::copy_if(tracks_.begin(), tracks_.end(), std::back_inserter(result),
                 [type](const MovieTrack& t) { return t.type == type; });
    return result;
}

std::optional<uint32_t> MovieAsset::firstSampleNumber(const MovieTrack& track) const {
    if (!readable_) {
        return std::nullopt;
    }
    std::string error;
    Input input = openInput(path_, error);
    if (!input || track.streamIndex < 0 ||
        track.streamIndex >= static_cast<int>(input->nb_streams)) {
        return std::nullopt;
    }
    PacketReader reader(input.get(), track.streamIndex);
    while (AVPacket* packet = reader.next()) {
        if (packet->size >= 4) {
            return AV_RB32(packet->data);
        }
    }
    return std::nullopt;
}

RGBAImage MovieAsset::rotated(const RGBAImage& image, int clockwiseDegrees) {
    const int turn = ((clockwiseDegrees % 360) + 360) % 360;
    if (turn != 90 && turn != 180 && turn != 270) {
        return image;
    }
    const int w = image.width();
    const int h = image.height();
    auto turned = RGBAImage::blank(turn == 180 ? w : h, turn == 180 ? h : w);
    if (!turned) {
        return image;  // empty: nothing to turn
    }
    RGBAImage& out = *turned;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int nx = 0;
            int ny = 0;
            if (turn == 90) {
                nx = h - 1 - y;
                ny = x;
            } else if (turn == 180) {
                nx = w - 1 - x;
                ny = h - 1 - y;
            } else {
                nx = y;
                ny = w - 1 - x;
            }
            const size_t from = (size_t(y) * size_t(w) + size_t(x)) * 4;
            const size_t to = (size_t(ny) * size_t(out.width()) + size_t(nx)) * 4;
            std::copy_n(&image.pixels()[from], 4, &out.pixels()[to]);
        }
    }
    return out;
}

std::optional<RGBAImage> MovieAsset::frameAtTime(double seconds, bool applyRotation) const {
    auto videos = tracksOfType(MovieTrack::Type::Video);
    if (!readable_ || videos.empty() || !std::isfinite(seconds)) {
        return std::nullopt;
    }
    std::string error;
    Input input = openInput(path_, error);
    const int index = videos.front().streamIndex;
    if (!input || index >= static_cast<int>(input->nb_streams)) {
        return std::nullopt;
    }
    AVStream* st = input->streams[index];
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, CodecCloser> codec(avcodec_alloc_context3(decoder));
    if (decoder == nullptr || !codec ||
        avcodec_parameters_to_context(codec.get(), st->codecpar) < 0) {
        return std::nullopt;
    }
    codec->thread_count = 1;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        return std::nullopt;
    }
    const double clamped = std::clamp(seconds, 0.0, 1.0e9);
    int64_t target =
        av_rescale_q(static_cast<int64_t>(clamped * AV_TIME_BASE), AV_TIME_BASE_Q, st->time_base);
    if (st->start_time != AV_NOPTS_VALUE) {
        target += st->start_time;
    }
    av_seek_frame(input.get(), index, target, AVSEEK_FLAG_BACKWARD);
    PacketReader reader(input.get(), index);
    FrameFinder finder(codec.get(), target);
    bool found = false;
    while (AVPacket* packet = reader.next()) {
        if ((found = finder.feed(packet))) {
            break;
        }
    }
    if (!found) {
        finder.feed(nullptr);
    }
    const AVFrame* frame = finder.kept();
    auto image = frame != nullptr ? toRGBA(frame) : std::nullopt;
    if (image && applyRotation && videos.front().rotation != 0) {
        return rotated(*image, videos.front().rotation);
    }
    return image;
}

}  // namespace platform::media
