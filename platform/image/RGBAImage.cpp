#include "platform/image/RGBAImage.h"

namespace platform::image {

bool RGBAImage::acceptsSize(int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
        return false;
    }
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= kMaxPixels;
}

std::optional<RGBAImage> RGBAImage::blank(int width, int height) {
    if (!acceptsSize(width, height)) {
        return std::nullopt;
    }
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    return RGBAImage(width, height, std::vector<uint8_t>(bytes, 0));
}

std::optional<RGBAImage> RGBAImage::fromPixels(int width, int height, std::vector<uint8_t> pixels) {
    if (!acceptsSize(width, height)) {
        return std::nullopt;
    }
    if (pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4) {
        return std::nullopt;
    }
    return RGBAImage(width, height, std::move(pixels));
}

}  // namespace platform::image
