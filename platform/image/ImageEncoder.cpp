#include "platform/image/ImageEncoder.h"

#include "platform/image/JpegCodec.h"
#include "platform/image/PngCodec.h"

namespace platform::image {

std::optional<std::vector<uint8_t>> encodeImage(const RGBAImage& image, ImageFileType type,
                                                double compressionFactor) {
    switch (type) {
        case ImageFileType::JPEG:
            return encodeJPEG(image, compressionFactor);
        case ImageFileType::PNG:
            return encodePNG(image);
    }
    return std::nullopt;
}

}  // namespace platform::image
