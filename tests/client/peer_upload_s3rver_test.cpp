// The hosted road against s3rver, an S3 server nobody here wrote: the file goes to
// the bucket under the registered key and reads back byte for byte. s3rver computes
// its signatures from an x-amz-date it requires where we sign the Date header, so it
// runs with --allow-mismatched-signatures; the signatures themselves are checked
// against botocore by the storage stand-in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/client/UploadTestSupport.h"
#include "tests/helpers/Peer.h"
#include "tests/helpers/S3rver.h"
#include "transfer/TXS3ObjectRequest.h"

namespace {

using testsupport::Peer;
using testsupport::S3rver;
using uploadtest::fieldsOf;

constexpr const char* kKey = S3rver::kKey;
constexpr const char* kBucket = "quorvane";

class S3rverUploadTest : public uploadtest::UploadRoadTest {
  protected:
    void SetUp() override {
        UploadRoadTest::SetUp();
        QV_REQUIRE_PEER_BINARY(S3rver::binary(), "s3rver (tests/peers, npm)");
        if (!startService()) {
            if (Peer::isCi()) {
                FAIL() << "the stand-in service is missing";
            }
            GTEST_SKIP() << "the stand-in service is missing";
        }
        ASSERT_TRUE(s3rver_.start(kBucket)) << s3rver_.failure();
        useStorage(kBucket, kKey, kKey);
        makeClient(service->url());
    }
    void TearDown() override {
        UploadRoadTest::TearDown();
        forgetStorage();
    }

    // The object read back with a signed GET of our own.
    std::optional<base::Data> stored(const std::string& key) {
        auto get = TXS3ObjectRequest::requestWithBucket(kBucket, key);
        get->startSynchronous();
        if (get->error() || get->responseStatusCode() != 200) {
            return std::nullopt;
        }
        return get->responseData().value_or(base::Data{});
    }

    // Uploads and checks the registration and the stored bytes.
    void uploadAndReadBack(const std::string& name, size_t size) {
        const std::string path = writeFile(name, size);
        client->uploadFile(path, 1, std::nullopt, std::nullopt);
        ASSERT_TRUE(waitForOutcome(120));
        ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
        const auto entries = logged("/api/0/files/upload");
        ASSERT_EQ(entries.size(), 1u);
        const std::string key = fieldsOf(entries[0])["source"].stringValue();
        EXPECT_TRUE(key.starts_with("uploads/"));
        const auto bytes = stored(key);
        ASSERT_TRUE(bytes) << key;
        const std::string original = testsupport::readFile(path);
        ASSERT_EQ(bytes->size(), original.size());
        EXPECT_TRUE(std::string(bytes->begin(), bytes->end()) == original);
        EXPECT_EQ(delegate->progressSum(), static_cast<int64_t>(size));
    }

    S3rver s3rver_;
};

TEST_F(S3rverUploadTest, OnePutReadsBackByteForByte) {
    uploadAndReadBack("ab c(1).mov", 5 * 1024 * 1024 + 3);
}

TEST_F(S3rverUploadTest, MultipartReadsBackByteForByte) {
    setSegmented(true);
    const std::string path = writeFile("big.mov", 41 * 1024 * 1024);
    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(waitForOutcome(180));
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
    const auto entries = logged("/api/0/files/upload");
    ASSERT_EQ(entries.size(), 1u);
    const auto bytes = stored(fieldsOf(entries[0])["source"].stringValue());
    ASSERT_TRUE(bytes);
    const std::string original = testsupport::readFile(path);
    ASSERT_EQ(bytes->size(), original.size());
    EXPECT_TRUE(std::string(bytes->begin(), bytes->end()) == original);
}

}  // namespace
