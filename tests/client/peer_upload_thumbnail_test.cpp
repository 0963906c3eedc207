// Thumbnails end to end: a picture goes to "/files/thumb" as a JPEG 120 pixels wide,
// under a random name, and what the service receives decodes to the expected size
// and colours (read back by libjpeg and by ffprobe).
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "platform/crypto/Base64.h"
#include "platform/image/JpegCodec.h"
#include "platform/image/RGBAImage.h"
#include "tests/client/UploadTestSupport.h"
#include "tests/helpers/Peer.h"

namespace {

using platform::image::RGBAImage;
using testsupport::Peer;
using uploadtest::fieldsOf;

// Opaque red on the left half, opaque blue on the right.
RGBAImage halves(int width, int height) {
    auto image = RGBAImage::blank(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = image->pixel(x, y);
            const bool left = x < width / 2;
            p[0] = left ? 255 : 0;
            p[1] = 0;
            p[2] = left ? 0 : 255;
            p[3] = 255;
        }
    }
    return *image;
}

bool isThumbnailName(const std::string& name) {
    if (name.size() != 36 || !name.ends_with(".jpg")) {
        return false;
    }
    for (size_t i = 0; i < 32; ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

class ThumbnailUploadTest : public uploadtest::UploadRoadTest {
  protected:
    void SetUp() override {
        UploadRoadTest::SetUp();
        if (!startService()) {
            if (Peer::isCi()) {
                FAIL() << "the stand-in service is missing";
            }
            GTEST_SKIP() << "the stand-in service is missing";
        }
        makeClient(service->url());
    }

    struct Received {
        std::string field;
        std::string name;
        std::string type;
        std::string fileID;
        std::vector<uint8_t> jpeg;
    };

    // Sends the picture and returns the one part the service received.
    Received send(const RGBAImage& image, int64_t fileID) {
        const size_t before = delegate->thumbnails.size();
        client->uploadThumbnailImage(image, fileID);
        EXPECT_TRUE(pumpUntil([&] { return delegate->thumbnails.size() > before; }, 30));
        const auto entries = logged("/api/0/files/thumb");
        Received r;
        if (entries.empty() || !entries.back()["files"].array() ||
            entries.back()["files"].size() != 1) {
            ADD_FAILURE() << "no thumbnail part received";
            return r;
        }
        const base::Value part = entries.back()["files"][0];
        r.field = part["field"].stringValue();
        r.name = part["filename"].stringValue();
        r.type = part["type"].stringValue();
        r.fileID = fieldsOf(entries.back())["file_id"].stringValue();
        if (auto bytes = platform::crypto::Base64::decode(part["base64"].stringValue())) {
            r.jpeg.assign(bytes->begin(), bytes->end());
        }
        return r;
    }

    // Width and height as ffprobe reads them, "W,H"; skipped where ffprobe is missing.
    std::string probedSize(const std::vector<uint8_t>& jpeg) {
        const std::string ffprobe = Peer::findBinary("ffprobe");
        if (ffprobe.empty()) {
            return {};
        }
        const std::string path = dir.file("thumb.jpg");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()),
                   static_cast<std::streamsize>(jpeg.size()));
        const std::string out = dir.file("probe.txt");
        Peer::runTool({ffprobe, "-v", "error", "-show_entries", "stream=width,height", "-of",
                       "csv=p=0", path},
                      out);
        std::string text = testsupport::readFile(out);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        return text;
    }
};

TEST_F(ThumbnailUploadTest, APictureOf120PixelsGoesAtItsOwnSize) {
    const Received r = send(halves(120, 90), 31);
    EXPECT_EQ(r.field, "file");
    EXPECT_EQ(r.type, "image/jpeg");
    EXPECT_EQ(r.fileID, "31");
    EXPECT_TRUE(isThumbnailName(r.name)) << r.name;
    const auto decoded = platform::image::decodeJPEG(r.jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 120);
    EXPECT_EQ(decoded->height(), 90);
    ASSERT_EQ(delegate->thumbnails.size(), 1u);
    EXPECT_EQ(delegate->thumbnails[0]["file_id"].stringValue(), "31");
}

TEST_F(ThumbnailUploadTest, AFullHdPictureBecomes120By68WithItsColoursInPlace) {
    const Received r = send(halves(1920, 1080), 32);
    const auto decoded = platform::image::decodeJPEG(r.jpeg);
    ASSERT_TRUE(decoded) << r.jpeg.size() << " bytes received";
    EXPECT_EQ(decoded->width(), 120);
    EXPECT_EQ(decoded->height(), 68);
    const uint8_t* left = decoded->pixel(10, 34);
    const uint8_t* right = decoded->pixel(110, 34);
    EXPECT_GT(left[0], 200);
    EXPECT_LT(left[2], 60);
    EXPECT_LT(right[0], 60);
    EXPECT_GT(right[2], 200);
    const std::string probed = probedSize(r.jpeg);
    if (!probed.empty()) {
        EXPECT_EQ(probed, "120,68");
    } else if (Peer::isCi()) {
        ADD_FAILURE() << "ffprobe is not installed";
    }
}

TEST_F(ThumbnailUploadTest, EveryThumbnailHasItsOwnRandomName) {
    std::set<std::string> names;
    for (int i = 0; i < 4; ++i) {
        const Received r = send(halves(240, 135), 40 + i);
        EXPECT_TRUE(isThumbnailName(r.name)) << r.name;
        names.insert(r.name);
        const auto decoded = platform::image::decodeJPEG(r.jpeg);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width(), 120);
        EXPECT_EQ(decoded->height(), 68);  // 67.5 rounds up
    }
    EXPECT_EQ(names.size(), 4u);
}

TEST_F(ThumbnailUploadTest, NothingIsSentWhenNotLinked) {
    account->unlink();
    client->uploadThumbnailImage(halves(120, 90), 31);
    EXPECT_EQ(client->queuedOperationCount(), 0u);
    EXPECT_TRUE(logged("/api/0/files/thumb").empty());
}

}  // namespace
