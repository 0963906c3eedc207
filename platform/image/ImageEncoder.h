#pragma once
// Encoding by file type, for callers that choose the type at run time.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/image/RGBAImage.h"

namespace platform::image {

enum class ImageFileType { JPEG, PNG };

// `compressionFactor` (0 to 1) applies to JPEG; PNG is lossless and ignores it.
std::optional<std::vector<uint8_t>> encodeImage(const RGBAImage& image, ImageFileType type,
                                                double compressionFactor);

}  // namespace platform::image
