#pragma once
// PNG through libpng's simplified interface: 8-bit RGBA in and out, whatever the
// file's own colour type, bit depth or palette.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/image/RGBAImage.h"

namespace platform::image {

// None when the image is empty or the encoder fails.
std::optional<std::vector<uint8_t>> encodePNG(const RGBAImage& image);

// None for data that is not a PNG of an acceptable size, or is cut short or corrupt.
std::optional<RGBAImage> decodePNG(std::span<const uint8_t> data);

}  // namespace platform::image
