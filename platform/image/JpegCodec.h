#pragma once
// JPEG through libjpeg. JPEG has no alpha: colour is written as it would show over
// black, which is what premultiplied pixels hold.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/image/RGBAImage.h"

namespace platform::image {

// `quality` is a compression factor from 0 (smallest) to 1 (best), clamped to that
// range. None when the image is empty or the encoder fails.
std::optional<std::vector<uint8_t>> encodeJPEG(const RGBAImage& image, double quality);

// Opaque RGBA pixels; none for data that is not a JPEG of an acceptable size, or is
// cut short or corrupt.
std::optional<RGBAImage> decodeJPEG(std::span<const uint8_t> data);

}  // namespace platform::image
