#include <gtest/gtest.h>

#include <set>
#include <string>

#include "client/OWQuorvaneUtilities.h"
#include "platform/image/JpegCodec.h"
#include "platform/image/PngCodec.h"
#include "tests/helpers/TempDir.h"

namespace {

using platform::image::ImageFileType;
using platform::image::RGBAImage;
using U = OWQuorvaneUtilities;

RGBAImage opaque(int width, int height) {
    auto image = RGBAImage::blank(width, height);
    EXPECT_TRUE(image);
    for (size_t i = 3; i < image->pixels().size(); i += 4) {
        image->pixels()[i - 3] = 200;
        image->pixels()[i] = 255;
    }
    return *image;
}

TEST(UploadNamesTest, RandomStringsAreFreshEvenWithinOneInstant) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string s = U::randomString(32);
        ASSERT_EQ(s.size(), 32u);
        ASSERT_EQ(s.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 2000u);
    EXPECT_EQ(U::randomString(0), "");
}

TEST(UploadNamesTest, SanitizingReplacesEachCharacterWithOneUnderscore) {
    EXPECT_EQ(U::sanitizeFilename("ab c(1).mov"), "ab_c_1_.mov");
    EXPECT_EQ(U::sanitizeFilename("My Clip.fcpbundle.zip"), "My_Clip.fcpbundle.zip");
    EXPECT_EQ(U::sanitizeFilename("Caf\xC3\xA9 \xF0\x9F\x8E\xAC.mp4"),
              "Caf___.mp4");  // é, space, emoji
    EXPECT_EQ(U::sanitizeFilename("a/../b"), "a_.._b");
    EXPECT_EQ(U::sanitizeFilename(std::string("x\0y\xFF\xC3", 5)), "x_y__");  // broken UTF-8
    EXPECT_EQ(U::sanitizeFilename(""), "");
}

TEST(UploadFileKindsTest, TypesComeFromTheSharedTableAndExtensions) {
    testsupport::TempDir dir;
    EXPECT_EQ(U::fileMIMEType(dir.write("a.zip", "x")), "application/zip");
    EXPECT_EQ(U::fileMIMEType(dir.write("B.MOV", "x")), "video/quicktime");
    EXPECT_EQ(U::fileMIMEType(dir.write("noextension", "x")), "application/octet-stream");
    EXPECT_EQ(U::fileMIMEType(dir.write("c.unheardof", "x")), "application/octet-stream");
    EXPECT_EQ(U::fileMIMEType(dir.file("missing.mov")), "application/octet-stream");

    // By type, for files that exist.
    EXPECT_TRUE(U::isMovieFile(dir.write("clip.mkv", "x")));
    EXPECT_TRUE(U::isAudioFile(dir.write("song.flac", "x")));
    EXPECT_TRUE(U::isImageFile(dir.write("still.gif", "x")));
    EXPECT_TRUE(U::utiConformsTo(U::kMovieType, dir.file("B.MOV")));
    EXPECT_FALSE(U::utiConformsTo(U::kAudioType, dir.file("B.MOV")));
    EXPECT_FALSE(U::utiConformsTo("public.nonsense", dir.file("B.MOV")));
    // By extension alone, whether or not the file is there.
    EXPECT_TRUE(U::isMovieFile(dir.file("gone.M4V")));
    EXPECT_TRUE(U::isAudioFile(dir.file("gone.aif")));
    EXPECT_TRUE(U::isImageFile(dir.file("gone.BMP")));
    EXPECT_FALSE(U::isMovieFile(dir.write("notes.txt", "x")));
    EXPECT_FALSE(U::isImageFile(dir.file("gone.mov")));
    EXPECT_FALSE(U::isAudioFile(dir.file("folder")));
}

TEST(ResizeImageTest, KeepsTheAspectRatioAndRoundsToTheNearestPixel) {
    const auto hd = opaque(1920, 1080);
    const auto jpeg = U::resizeImage(hd, 120, 0, ImageFileType::JPEG, 0.8);
    ASSERT_TRUE(jpeg);
    const auto thumb = platform::image::decodeJPEG(*jpeg);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->width(), 120);
    EXPECT_EQ(thumb->height(), 68);  // 67.5
    EXPECT_NEAR(thumb->pixel(60, 34)[0], 200, 3);

    const auto byHeight = U::resizeImage(hd, 0, 68, ImageFileType::PNG, 0.8);
    ASSERT_TRUE(byHeight);
    const auto png = platform::image::decodePNG(*byHeight);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width(), 121);  // 120.89
    EXPECT_EQ(png->height(), 68);

    const auto both =
        platform::image::decodePNG(*U::resizeImage(hd, 16, 16, ImageFileType::PNG, 1));
    ASSERT_TRUE(both);
    EXPECT_EQ(both->width(), 16);
    EXPECT_EQ(both->height(), 16);
}

TEST(ResizeImageTest, ExtremeShapesAndBadSizes) {
    // A strip far wider than tall keeps one row rather than vanishing.
    const auto strip = platform::image::decodePNG(
        *U::resizeImage(opaque(4000, 3), 120, 0, ImageFileType::PNG, 0.8));
    ASSERT_TRUE(strip);
    EXPECT_EQ(strip->width(), 120);
    EXPECT_EQ(strip->height(), 1);

    EXPECT_FALSE(U::resizeImage(opaque(3, 4000), 120, 0, ImageFileType::JPEG, 0.8));  // too tall
    EXPECT_FALSE(U::resizeImage(RGBAImage(), 120, 0, ImageFileType::JPEG, 0.8));
    EXPECT_FALSE(U::resizeImage(opaque(8, 8), 0, 0, ImageFileType::JPEG, 0.8));
    EXPECT_FALSE(U::resizeImage(opaque(8, 8), -5, 0, ImageFileType::JPEG, 0.8));
}

}  // namespace
