#pragma once
// A picture as tightly packed 8-bit RGBA rows, top row first, colour not
// premultiplied. The suite's one picture type: movie frames are decoded into it, and
// the thumbnail code scales and encodes it.
#include <cstdint>
#include <optional>
#include <vector>

namespace platform::image {

class RGBAImage {
  public:
    // Largest side accepted anywhere (decoding, scaling, creating).
    static constexpr int kMaxSide = 16384;
    // Largest pixel count accepted: 256 MiB of pixels at 4 bytes each.
    static constexpr uint64_t kMaxPixels = 64ull * 1024 * 1024;

    RGBAImage() = default;

    // A transparent image; none when a side is not positive or the size is too large.
    static std::optional<RGBAImage> blank(int width, int height);
    // Takes rows of width * 4 bytes; none when the sizes do not agree or are too large.
    static std::optional<RGBAImage> fromPixels(int width, int height, std::vector<uint8_t> pixels);
    static bool acceptsSize(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ == 0 || height_ == 0; }
    const std::vector<uint8_t>& pixels() const { return pixels_; }
    std::vector<uint8_t>& pixels() { return pixels_; }
    const uint8_t* pixel(int x, int y) const { return &pixels_[offset(x, y)]; }
    uint8_t* pixel(int x, int y) { return &pixels_[offset(x, y)]; }

  private:
    RGBAImage(int width, int height, std::vector<uint8_t> pixels)
        : width_(width), height_(height), pixels_(std::move(pixels)) {}
    size_t offset(int x, int y) const {
        return (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 4;
    }

    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> pixels_;
};

}  // namespace platform::image
