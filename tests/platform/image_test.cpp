#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/image/ImageScaler.h"
#include "platform/image/JpegCodec.h"
#include "platform/image/PngCodec.h"
#include "platform/image/RGBAImage.h"
#include "tests/helpers/Peer.h"
#include "tests/helpers/TempDir.h"

namespace {

using platform::image::decodeJPEG;
using platform::image::decodePNG;
using platform::image::encodeJPEG;
using platform::image::encodePNG;
using platform::image::RGBAImage;
using platform::image::scaleByAreaAverage;

struct Rgba {
    int r, g, b, a;
};

RGBAImage filled(int width, int height, Rgba (*colour)(int x, int y)) {
    auto image = RGBAImage::blank(width, height);
    EXPECT_TRUE(image);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgba c = colour(x, y);
            uint8_t* p = image->pixel(x, y);
            p[0] = static_cast<uint8_t>(c.r);
            p[1] = static_cast<uint8_t>(c.g);
            p[2] = static_cast<uint8_t>(c.b);
            p[3] = static_cast<uint8_t>(c.a);
        }
    }
    return *image;
}

Rgba at(const RGBAImage& image, int x, int y) {
    const uint8_t* p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

void expectNear(const Rgba& got, const Rgba& want, int tolerance, const std::string& where) {
    EXPECT_NEAR(got.r, want.r, tolerance) << where;
    EXPECT_NEAR(got.g, want.g, tolerance) << where;
    EXPECT_NEAR(got.b, want.b, tolerance) << where;
    EXPECT_NEAR(got.a, want.a, tolerance) << where;
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// ---------------------------------------------------------------- scaling

TEST(ImageScalerTest, AveragesWholeBlocksExactly) {
    // 2x2 blocks of four colours become one pixel each.
    const auto source = filled(4, 4, [](int x, int y) -> Rgba {
        static const Rgba colours[4] = {
            {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {10, 20, 30, 255}};
        return colours[(y / 2) * 2 + x / 2];
    });
    const auto scaled = scaleByAreaAverage(source, 2, 2);
    ASSERT_TRUE(scaled);
    expectNear(at(*scaled, 0, 0), {255, 0, 0, 255}, 0, "top left");
    expectNear(at(*scaled, 1, 0), {0, 255, 0, 255}, 0, "top right");
    expectNear(at(*scaled, 0, 1), {0, 0, 255, 255}, 0, "bottom left");
    expectNear(at(*scaled, 1, 1), {10, 20, 30, 255}, 0, "bottom right");

    // A checkerboard of black and white averages to mid grey (127.5 rounds up).
    const auto checker = filled(8, 8, [](int x, int y) -> Rgba {
        const int v = (x + y) % 2 ? 255 : 0;
        return {v, v, v, 255};
    });
    const auto grey = scaleByAreaAverage(checker, 1, 1);
    ASSERT_TRUE(grey);
    expectNear(at(*grey, 0, 0), {128, 128, 128, 255}, 0, "checker");
}

TEST(ImageScalerTest, WeighsSourcePixelsByTheShareTheyCover) {
    // Three pixels into two: each output covers one and a half source pixels.
    const auto source = filled(3, 1, [](int x, int) -> Rgba { return {x * 90, 0, 0, 255}; });
    const auto scaled = scaleByAreaAverage(source, 2, 1);
    ASSERT_TRUE(scaled);
    EXPECT_EQ(at(*scaled, 0, 0).r, 30);   // (0 + 90/2) / 1.5
    EXPECT_EQ(at(*scaled, 1, 0).r, 150);  // (90/2 + 180) / 1.5

    // 1920x1080 to 120x68: columns are exact 16-pixel blocks, rows are 15.88 each.
    const auto hd = filled(1920, 1080, [](int x, int y) -> Rgba {
        return {x / 16 * 2 + (x % 16 < 12 ? 0 : 4), y / 5, 7, 255};
    });
    const auto thumb = scaleByAreaAverage(hd, 120, 68);
    ASSERT_TRUE(thumb);
    for (int d = 0; d < 120; ++d) {
        // Twelve pixels of 2d and four of 2d + 4: a window off by one pixel misses.
        EXPECT_EQ(at(*thumb, d, 10).r, 2 * d + 1) << d;
    }
    for (int d = 0; d < 68; ++d) {
        // Exact mean in 68ths of a pixel: output row d covers [1080 d, 1080 d + 1080).
        long sum = 0;
        for (long y = 0; y < 1080; ++y) {
            const long covered =
                std::min(1080L * (d + 1), 68 * (y + 1)) - std::max(1080L * d, 68 * y);
            if (covered > 0) {
                sum += covered * (y / 5);
            }
        }
        EXPECT_NEAR(at(*thumb, 5, d).g, static_cast<double>(sum) / 1080, 0.5 + 1e-9) << d;
        EXPECT_EQ(at(*thumb, 5, d).b, 7);
    }
}

TEST(ImageScalerTest, TransparentPixelsDoNotBleedTheirColour) {
    // Opaque red beside a fully transparent pixel whose colour bytes are green.
    const auto source = filled(2, 1, [](int x, int) -> Rgba {
        return x == 0 ? Rgba{255, 0, 0, 255} : Rgba{0, 255, 0, 0};
    });
    const auto scaled = scaleByAreaAverage(source, 1, 1);
    ASSERT_TRUE(scaled);
    expectNear(at(*scaled, 0, 0), {255, 0, 0, 128}, 0, "half-covered red");

    const auto clear = filled(3, 3, [](int, int) -> Rgba { return {9, 9, 9, 0}; });
    const auto scaledClear = scaleByAreaAverage(clear, 2, 2);
    ASSERT_TRUE(scaledClear);
    expectNear(at(*scaledClear, 1, 1), {0, 0, 0, 0}, 0, "all clear");
}

TEST(ImageScalerTest, EnlargesAndRefusesUnusableSizes) {
    const auto dot = filled(1, 1, [](int, int) -> Rgba { return {1, 2, 3, 255}; });
    const auto big = scaleByAreaAverage(dot, 5, 3);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->width(), 5);
    EXPECT_EQ(big->height(), 3);
    expectNear(at(*big, 4, 2), {1, 2, 3, 255}, 0, "enlarged");

    EXPECT_FALSE(scaleByAreaAverage(dot, 0, 3));
    EXPECT_FALSE(scaleByAreaAverage(dot, 3, -1));
    EXPECT_FALSE(scaleByAreaAverage(dot, RGBAImage::kMaxSide + 1, 1));
    EXPECT_FALSE(scaleByAreaAverage(RGBAImage(), 3, 3));
    EXPECT_FALSE(RGBAImage::blank(RGBAImage::kMaxSide, RGBAImage::kMaxSide));
    EXPECT_FALSE(RGBAImage::fromPixels(2, 2, std::vector<uint8_t>(15)));
    EXPECT_TRUE(RGBAImage::fromPixels(2, 2, std::vector<uint8_t>(16)));
}

// ---------------------------------------------------------------- JPEG

Rgba blocks(int x, int y) {
    // Flat 8x8-aligned blocks so JPEG keeps colours close.
    return {(x / 16) * 40 % 256, (y / 16) * 60 % 256, 128, 255};
}

TEST(JpegCodecTest, RoundTripsThroughLibjpegAndFfmpeg) {
    const auto source = filled(64, 48, blocks);
    const auto jpeg = encodeJPEG(source, 0.8);
    ASSERT_TRUE(jpeg);
    ASSERT_GE(jpeg->size(), 4u);
    EXPECT_EQ((*jpeg)[0], 0xFF);
    EXPECT_EQ((*jpeg)[1], 0xD8);

    const auto decoded = decodeJPEG(*jpeg);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->width(), 64);
    ASSERT_EQ(decoded->height(), 48);
    for (int y = 4; y < 48; y += 16) {
        for (int x = 4; x < 64; x += 16) {
            expectNear(at(*decoded, x + 4, y + 4), blocks(x, y), 6, "libjpeg");
        }
    }

    // A decoder nobody here wrote must read the same picture.
    const std::string ffmpeg = testsupport::Peer::findBinary("ffmpeg");
    if (ffmpeg.empty()) {
        if (testsupport::Peer::isCi()) {
            FAIL() << "ffmpeg is not installed";
        }
        return;
    }
    testsupport::TempDir dir;
    writeBytes(dir.file("t.jpg"), *jpeg);
    ASSERT_EQ(testsupport::Peer::runTool({ffmpeg, "-v", "error", "-i", dir.file("t.jpg"), "-f",
                                          "rawvideo", "-pix_fmt", "rgb24", dir.file("t.rgb")},
                                         dir.file("log")),
              0);
    const auto raw = readBytes(dir.file("t.rgb"));
    ASSERT_EQ(raw.size(), 64u * 48 * 3);
    // Block insides only: the two decoders upsample colour differently at edges.
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            if (x % 16 < 4 || x % 16 >= 12 || y % 16 < 4 || y % 16 >= 12) {
                continue;
            }
            const uint8_t* p = &raw[(static_cast<size_t>(y) * 64 + x) * 3];
            const Rgba ours = at(*decoded, x, y);
            EXPECT_NEAR(p[0], ours.r, 3);
            EXPECT_NEAR(p[1], ours.g, 3);
            EXPECT_NEAR(p[2], ours.b, 3);
        }
    }
}

TEST(JpegCodecTest, QualityFactorRunsFromZeroToOne) {
    const auto noise = filled(96, 96, [](int x, int y) -> Rgba {
        const unsigned h = static_cast<unsigned>(x * 7919 + y * 104729) * 2654435761u;
        return {static_cast<int>(h >> 24), static_cast<int>((h >> 16) & 255),
                static_cast<int>((h >> 8) & 255), 255};
    });
    const auto low = encodeJPEG(noise, 0.0);
    const auto mid = encodeJPEG(noise, 0.8);
    const auto high = encodeJPEG(noise, 1.0);
    const auto over = encodeJPEG(noise, 7.0);
    ASSERT_TRUE(low && mid && high && over);
    EXPECT_LT(low->size(), mid->size());
    EXPECT_LT(mid->size(), high->size());
    EXPECT_EQ(*over, *high);  // clamped to 1
    EXPECT_TRUE(decodeJPEG(*low));
}

TEST(JpegCodecTest, TransparencyShowsAsOverBlack) {
    const auto source = filled(16, 16, [](int x, int) -> Rgba {
        return x < 8 ? Rgba{255, 255, 255, 0} : Rgba{255, 255, 255, 255};
    });
    const auto decoded = decodeJPEG(*encodeJPEG(source, 1.0));
    ASSERT_TRUE(decoded);
    expectNear(at(*decoded, 2, 8), {0, 0, 0, 255}, 8, "transparent side");
    expectNear(at(*decoded, 13, 8), {255, 255, 255, 255}, 8, "opaque side");
}

TEST(JpegCodecTest, RefusesDamagedInput) {
    const auto jpeg = encodeJPEG(filled(32, 32, blocks), 0.9);
    ASSERT_TRUE(jpeg);
    std::vector<uint8_t> cut(jpeg->begin(), jpeg->begin() + static_cast<long>(jpeg->size() / 2));
    EXPECT_FALSE(decodeJPEG(cut));
    EXPECT_FALSE(decodeJPEG({}));
    const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    EXPECT_FALSE(decodeJPEG(text));
    EXPECT_FALSE(encodeJPEG(RGBAImage(), 0.8));
}

// ---------------------------------------------------------------- PNG

TEST(PngCodecTest, RoundTripsEveryByteIncludingAlpha) {
    const auto source = filled(17, 9, [](int x, int y) -> Rgba {
        return {x * 15, y * 28, (x * y) % 256, (x * 31 + y) % 256};
    });
    const auto png = encodePNG(source);
    ASSERT_TRUE(png);
    const auto decoded = decodePNG(*png);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 17);
    EXPECT_EQ(decoded->height(), 9);
    EXPECT_EQ(decoded->pixels(), source.pixels());
}

TEST(PngCodecTest, ReadsAPictureWrittenByFfmpeg) {
    const std::string ffmpeg = testsupport::Peer::findBinary("ffmpeg");
    QV_REQUIRE_PEER_BINARY(ffmpeg, "ffmpeg");
    testsupport::TempDir dir;
    ASSERT_EQ(testsupport::Peer::runTool(
                  {ffmpeg, "-v", "error", "-f", "lavfi", "-i", "color=c=0x336699:s=6x4",
                   "-frames:v", "1", "-pix_fmt", "rgb24", dir.file("c.png")},
                  dir.file("log")),
              0);
    const auto decoded = decodePNG(readBytes(dir.file("c.png")));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->width(), 6);
    ASSERT_EQ(decoded->height(), 4);
    // ffmpeg's colour source passes through YUV, so allow its rounding.
    expectNear(at(*decoded, 5, 3), {0x33, 0x66, 0x99, 255}, 3, "ffmpeg colour");
}

TEST(PngCodecTest, RefusesDamagedInput) {
    auto png = encodePNG(filled(20, 20, blocks));
    ASSERT_TRUE(png);
    std::vector<uint8_t> cut(png->begin(), png->end() - 20);
    EXPECT_FALSE(decodePNG(cut));
    auto flipped = *png;
    flipped[flipped.size() / 2] ^= 0x55;  // inside the pixel data: checksum no longer matches
    EXPECT_FALSE(decodePNG(flipped));
    EXPECT_FALSE(decodePNG({}));
    EXPECT_FALSE(encodePNG(RGBAImage()));
}

}  // namespace
