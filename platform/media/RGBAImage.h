#pragma once
// An image as tightly packed 8-bit RGBA rows, top row first.
#include <cstdint>
#include <vector>

namespace platform::media {

struct RGBAImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height * 4 bytes
};

}  // namespace platform::media
