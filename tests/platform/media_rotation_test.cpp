// Movies shot turned: the track says how far to turn its pictures for display, and
// frames taken for thumbnails can be turned accordingly.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/media/MovieAsset.h"
#include "tests/helpers/MovieTest.h"

namespace platform::media {
namespace {

class MediaRotation : public testsupport::MovieTest {
  protected:
    static void SetUpTestSuite() {
        if (!makeFolder()) {
            return;
        }
        // A 64x32 picture whose left half is red and right half blue.
        const std::string source =
            "color=red:size=32x32:rate=25[a];color=blue:size=32x32:rate=25[b];[a][b]hstack";
        make({"-f", "lavfi", "-i", source, "-t", "1"}, "turn0.mov");
        // The same movie with a display matrix in its track header, as cameras write it.
        constexpr int32_t O = 0x10000;
        turned("turn90.mov", {0, O, 0, -O, 0, 0, 0, 0, 0x40000000});
        turned("turn180.mov", {-O, 0, 0, 0, -O, 0, 0, 0, 0x40000000});
        turned("turn270.mov", {0, -O, 0, O, 0, 0, 0, 0, 0x40000000});
    }

    static void turned(const std::string& name, const std::array<int32_t, 9>& matrix) {
        std::ifstream in(file("turn0.mov"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t tkhd = bytes.find("tkhd");
        ASSERT_NE(tkhd, std::string::npos);
        // type, version and flags, two dates, track id, reserved, duration, reserved (8),
        // layer, group, volume, reserved: then the matrix, big-endian.
        size_t at = tkhd + 4 + 4 + 4 + 4 + 4 + 4 + 4 + 8 + 2 + 2 + 2 + 2;
        for (int32_t v : matrix) {
            const auto u = static_cast<uint32_t>(v);
            for (int shift = 24; shift >= 0; shift -= 8) {
                bytes[at++] = static_cast<char>((u >> shift) & 0xFF);
            }
        }
        std::ofstream(file(name), std::ios::binary) << bytes;
    }
};

// The pixel (x, y) of an image as "r" for red, "b" for blue, "?" otherwise.
char colour(const RGBAImage& image, int x, int y) {
    const uint8_t* p = &image.pixels()[(size_t(y) * size_t(image.width()) + size_t(x)) * 4];
    return p[0] > 180 && p[2] < 80 ? 'r' : p[2] > 180 && p[0] < 80 ? 'b' : '?';
}

TEST_F(MediaRotation, TracksReportTheirTurnAndFramesAreTurnedOnRequest) {
    struct Case {
        const char* file;
        int rotation;
        int width, height;
        char topLeft, bottomRight;
    };
    // The matrix turns the picture clockwise for display.
    for (const Case& c :
         {Case{"turn0.mov", 0, 64, 32, 'r', 'b'}, Case{"turn90.mov", 90, 32, 64, 'r', 'b'},
          Case{"turn180.mov", 180, 64, 32, 'b', 'r'}, Case{"turn270.mov", 270, 32, 64, 'b', 'r'}}) {
        const MovieAsset movie = MovieAsset::fromPath(file(c.file));
        ASSERT_TRUE(movie.isReadable()) << c.file;
        const auto video = movie.tracksOfType(MovieTrack::Type::Video);
        ASSERT_EQ(video.size(), 1u);
        EXPECT_EQ(video[0].rotation, c.rotation) << c.file;
        EXPECT_EQ(video[0].width, 64);  // the natural size stays as stored

        const auto stored = movie.frameAtTime(0.5);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->width(), 64);
        const auto shown = movie.frameAtTime(0.5, true);
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->width(), c.width) << c.file;
        EXPECT_EQ(shown->height(), c.height) << c.file;
        EXPECT_EQ(colour(*shown, 2, 2), c.topLeft) << c.file;
        EXPECT_EQ(colour(*shown, shown->width() - 3, shown->height() - 3), c.bottomRight) << c.file;
    }
    // Turning a picture four quarters round gives it back.
    const auto frame = MovieAsset::fromPath(file("turn0.mov")).frameAtTime(0.2);
    ASSERT_TRUE(frame);
    RGBAImage turned = *frame;
    for (int i = 0; i < 4; ++i) {
        turned = MovieAsset::rotated(turned, 90);
    }
    EXPECT_EQ(turned.pixels(), frame->pixels());
    EXPECT_EQ(MovieAsset::rotated(*frame, 45).pixels(), frame->pixels());
}

}  // namespace
}  // namespace platform::media
