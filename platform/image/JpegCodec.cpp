#include "platform/image/JpegCodec.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace platform::image {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return; we jump
// back to the function that started the work. Only trivially destructible locals
// live between setjmp and the jump.
struct JumpingErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void jumpBack(j_common_ptr info) {
    auto* manager = reinterpret_cast<JumpingErrorManager*>(info->err);
    std::longjmp(manager->jump, 1);
}

void quiet(j_common_ptr, int) {}
void quietMessage(j_common_ptr) {}

void installErrors(JumpingErrorManager& errors) {
    jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpBack;
    errors.base.emit_message = quiet;
    errors.base.output_message = quietMessage;
}

// RGB rows from RGBA, alpha applied as over black.
void toRGB(const RGBAImage& image, int y, uint8_t* rgb) {
    for (int x = 0; x < image.width(); ++x) {
        const uint8_t* p = image.pixel(x, y);
        for (int c = 0; c < 3; ++c) {
            rgb[x * 3 + c] = static_cast<uint8_t>((p[c] * p[3] + 127) / 255);
        }
    }
}

// Plain C work only: buffers are owned by the caller. False on a libjpeg error.
bool compress(const RGBAImage& image, int quality, uint8_t* rowBuffer, unsigned char** out,
              unsigned long* outSize) {
    JumpingErrorManager errors;
    jpeg_compress_struct info;
    info.err = &errors.base;
    installErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, out, outSize);
    info.image_width = static_cast<JDIMENSION>(image.width());
    info.image_height = static_cast<JDIMENSION>(image.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        toRGB(image, static_cast<int>(info.next_scanline), rowBuffer);
        JSAMPROW row = rowBuffer;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

struct DecodeTarget {
    RGBAImage image;
    std::vector<uint8_t> row;
};

// Reads the header, sizes the target through `prepare` and fills it row by row.
bool decompress(std::span<const uint8_t> data, bool (*prepare)(DecodeTarget&, int, int),
                DecodeTarget& target) {
    JumpingErrorManager errors;
    jpeg_decompress_struct info;
    info.err = &errors.base;
    installErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    if (info.image_width > static_cast<JDIMENSION>(RGBAImage::kMaxSide) ||
        info.image_height > static_cast<JDIMENSION>(RGBAImage::kMaxSide) ||
        !prepare(target, static_cast<int>(info.image_width), static_cast<int>(info.image_height))) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    // A stream cut short is padded by libjpeg with a warning; we refuse it, and stop
    // at once rather than decode rows of padding.
    bool whole = info.output_components == 3 && errors.base.num_warnings == 0;
    while (whole && info.output_scanline < info.output_height) {
        const int y = static_cast<int>(info.output_scanline);
        JSAMPROW row = target.row.data();
        if (jpeg_read_scanlines(&info, &row, 1) != 1) {
            whole = false;
            break;
        }
        for (int x = 0; x < target.image.width(); ++x) {
            uint8_t* p = target.image.pixel(x, y);
            p[0] = target.row[static_cast<size_t>(x) * 3];
            p[1] = target.row[static_cast<size_t>(x) * 3 + 1];
            p[2] = target.row[static_cast<size_t>(x) * 3 + 2];
            p[3] = 255;
        }
        whole = errors.base.num_warnings == 0;
    }
    if (whole) {
        jpeg_finish_decompress(&info);
    }
    jpeg_destroy_decompress(&info);
    return whole;
}

bool prepareTarget(DecodeTarget& target, int width, int height) {
    auto blank = RGBAImage::blank(width, height);
    if (!blank) {
        return false;
    }
    target.image = std::move(*blank);
    target.row.assign(static_cast<size_t>(width) * 3, 0);
    return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> encodeJPEG(const RGBAImage& image, double quality) {
    if (image.empty()) {
        return std::nullopt;
    }
    const double factor = std::isnan(quality) ? 0.0 : std::clamp(quality, 0.0, 1.0);
    // libjpeg's scale runs 1..100; a factor of 0 still has to be a valid setting.
    const int setting = std::max(1, static_cast<int>(std::lround(factor * 100.0)));
    std::vector<uint8_t> rowBuffer(static_cast<size_t>(image.width()) * 3);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const bool ok = compress(image, setting, rowBuffer.data(), &out, &outSize);
    std::optional<std::vector<uint8_t>> result;
    if (ok && out != nullptr) {
        result.emplace(out, out + outSize);
    }
    std::free(out);
    return result;
}

std::optional<RGBAImage> decodeJPEG(std::span<const uint8_t> data) {
    if (data.size() < 4) {
        return std::nullopt;
    }
    DecodeTarget target;
    if (!decompress(data, prepareTarget, target)) {
        return std::nullopt;
    }
    return std::move(target.image);
}

}  // namespace platform::image
