#include "apps/export_plugin/Thumbnail.h"

#include <cstring>
#include <vector>

#include "base/Console.h"

namespace exportplugin {

namespace {

using base::Console;

// Frees the frame buffer when the thumbnail is done with it, stopped or not. None is made
// when the host gives no way to free it again.
class FrameBuffer {
  public:
    FrameBuffer(const HostSuites& suites, const HostCalls& host, const ecRect& bounds)
        : suites_(suites) {
        if (suites.ppixCreator && suites.ppixCreator->CreatePPix && suites.ppix &&
            suites.ppix->Dispose) {
            frame_ = host.answerOr(ecPPixHand{}, [&](ecPPixHand* frame) {
                return suites.ppixCreator->CreatePPix(frame, ecPPixAccessReadWrite,
                                                      ecPixelFormatBGRA, &bounds);
            });
        }
    }
    ~FrameBuffer() {
        if (frame_ && suites_.ppix && suites_.ppix->Dispose) {
            suites_.ppix->Dispose(frame_);
        }
    }
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;
    ecPPixHand get() const { return frame_; }

  private:
    const HostSuites& suites_;
    ecPPixHand frame_ = nullptr;
};

}  // namespace

std::optional<platform::image::RGBAImage> imageFromFrameBuffer(const char* pixels, int width,
                                                               int height, int32_t rowBytes) {
    if (!pixels || !platform::image::RGBAImage::acceptsSize(width, height) ||
        rowBytes < int64_t(width) * 4) {
        return std::nullopt;
    }
    const size_t rowLength = size_t(width) * 4;
    std::vector<uint8_t> rgba(rowLength * size_t(height));
    // Row by row: the host's rows may be padded, and its lowest row comes first.
    for (int row = 0; row < height; ++row) {
        const auto* from =
            reinterpret_cast<const uint8_t*>(pixels) + size_t(row) * size_t(rowBytes);
        uint8_t* to = rgba.data() + size_t(height - 1 - row) * rowLength;
        for (int x = 0; x < width; ++x, from += 4, to += 4) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
            to[3] = from[3];
        }
    }
    return platform::image::RGBAImage::fromPixels(width, height, std::move(rgba));
}

std::shared_ptr<const platform::image::RGBAImage> thumbnailForTimeline(ecTimelineID timeline,
                                                                       const ecStdParms* stdParms,
                                                                       const HostSuites& suites,
                                                                       const HostCalls& host) {
    const ecTimelineFuncs* funcs = timelineFuncs(stdParms);
    if (!suites.sequenceInfo || !suites.sequenceInfo->GetFrameBounds || !funcs) {
        return nullptr;
    }
    // No frame without its size: a failed call leaves no bounds to render into.
    ecRect bounds{};
    if (host.call([&] { return suites.sequenceInfo->GetFrameBounds(timeline, &bounds); }) !=
        ecStatusNoError) {
        return nullptr;
    }
    if (suites.sequenceInfo->GetFrameValues) {
        uint32_t first = 0;
        uint32_t second = 0;
        host.call([&] { return suites.sequenceInfo->GetFrameValues(timeline, &first, &second); });
    }
    // Where the host cannot say, the sequence's first frame.
    const ecTicks position =
        funcs->getCurrentPos
            ? host.answerOr(ecTicks{0},
                            [&](ecTicks* at) { return funcs->getCurrentPos(timeline, at); })
            : 0;
    Console::log("frame l: %i  t: %i r: %i b: %i", bounds.left, bounds.top, bounds.right,
                 bounds.bottom);

    FrameBuffer frame(suites, host, bounds);
    if (!frame.get()) {
        Console::write("Error creating PPix");
    }
    Console::write("-2");
    Console::log("timeline id: %i", timeline);
    // Nothing to render into without a frame buffer, and nothing to show unless the
    // host rendered the frame: the buffer holds whatever its memory held before.
    const bool rendered = frame.get() && funcs->renderFrame && host.call([&] {
        return funcs->renderFrame(timeline, position, frame.get(), &bounds, ecPixelFormatBGRA, 1, 1,
                                  1, 0);
    }) == ecStatusNoError;
    Console::write("-3");
    // Stopped while the host rendered: the frame buffer is only freed.
    if (!rendered || host.stopped() || !suites.ppix->GetPixels || !suites.ppix->GetRowBytes) {
        return nullptr;
    }

    const int width = int(bounds.right) - int(bounds.left);
    const int height = int(bounds.bottom) - int(bounds.top);
    Console::write("-4");
    Console::log("framebytes: %i", int64_t(width) * height * 4);
    char* const pixels = host.answerOr(static_cast<char*>(nullptr), [&](char** out) {
        return suites.ppix->GetPixels(frame.get(), ecPPixAccessReadWrite, out);
    });
    Console::write("-5");
    const int32_t rowBytes = host.answerOr(
        int32_t{0}, [&](int32_t* out) { return suites.ppix->GetRowBytes(frame.get(), out); });
    Console::write("-6");
    auto image = imageFromFrameBuffer(pixels, width, height, rowBytes);
    Console::write("-7");
    if (!image) {
        return nullptr;
    }
    Console::write("-8");
    return std::make_shared<const platform::image::RGBAImage>(std::move(*image));
}

}  // namespace exportplugin
