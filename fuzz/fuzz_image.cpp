// Pictures from outside: JPEG and PNG decoding, then the thumbnail path on whatever
// decoded (scale to 120 wide, JPEG at 0.8) so the scaler sees odd shapes too.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/image/ImageScaler.h"
#include "platform/image/JpegCodec.h"
#include "platform/image/PngCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace platform::image;
    const std::span<const uint8_t> bytes(data, size);
    auto image = decodeJPEG(bytes);
    if (!image) {
        image = decodePNG(bytes);
    }
    if (!image || static_cast<uint64_t>(image->width()) * image->height() > (1u << 20)) {
        return 0;
    }
    const int height = static_cast<int>(120.0 * image->height() / image->width() + 0.5);
    if (auto small = scaleByAreaAverage(*image, 120, height > 0 ? height : 1)) {
        (void)encodeJPEG(*small, 0.8);
        (void)encodePNG(*small);
    }
    return 0;
}
