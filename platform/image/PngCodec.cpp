#include "platform/image/PngCodec.h"

#include <png.h>

#include <cstring>

namespace platform::image {

namespace {

// Frees libpng's state however we leave.
struct PngImage {
    png_image image;
    PngImage() {
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
    }
    ~PngImage() { png_image_free(&image); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;
};

}  // namespace

std::optional<std::vector<uint8_t>> encodePNG(const RGBAImage& image) {
    if (image.empty()) {
        return std::nullopt;
    }
    PngImage png;
    png.image.width = static_cast<png_uint_32>(image.width());
    png.image.height = static_cast<png_uint_32>(image.height());
    png.image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    // The first call measures, the second writes.
    if (!png_image_write_to_memory(&png.image, nullptr, &size, 0, image.pixels().data(), 0,
                                   nullptr)) {
        return std::nullopt;
    }
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&png.image, out.data(), &size, 0, image.pixels().data(), 0,
                                   nullptr)) {
        return std::nullopt;
    }
    out.resize(size);
    return out;
}

std::optional<RGBAImage> decodePNG(std::span<const uint8_t> data) {
    if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) {
        return std::nullopt;
    }
    PngImage png;
    if (!png_image_begin_read_from_memory(&png.image, data.data(), data.size())) {
        return std::nullopt;
    }
    const auto width = png.image.width;
    const auto height = png.image.height;
    if (width > static_cast<png_uint_32>(RGBAImage::kMaxSide) ||
        height > static_cast<png_uint_32>(RGBAImage::kMaxSide)) {
        return std::nullopt;
    }
    auto image = RGBAImage::blank(static_cast<int>(width), static_cast<int>(height));
    if (!image) {
        return std::nullopt;
    }
    png.image.format = PNG_FORMAT_RGBA;
    if (!png_image_finish_read(&png.image, nullptr, image->pixels().data(), 0, nullptr)) {
        return std::nullopt;
    }
    // Warnings (an odd colour profile) are no reason to refuse a picture; data cut
    // short or a bad checksum in the pixels is an error and was refused above.
    return image;
}

}  // namespace platform::image
