#pragma once
// Resampling by area averaging: every output pixel is the mean of the part of the
// source it covers, weighted by how much of each source pixel falls inside it, with
// colour weighted by alpha so transparent pixels do not darken their neighbours.
// Going down in size this is the box filter a thumbnail wants; going up it repeats
// source pixels, blending only across their borders.
#include <optional>

#include "platform/image/RGBAImage.h"

namespace platform::image {

// None when the source is empty or the new size is not acceptable.
std::optional<RGBAImage> scaleByAreaAverage(const RGBAImage& source, int width, int height);

}  // namespace platform::image
