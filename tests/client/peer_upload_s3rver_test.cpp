// The hosted road against s3rver, an S3 server nobody here wrote: the file goes to
// the bucket under the registered key and reads back byte for byte. s3rver computes
// its signatures from an x-amz-date it requires where we sign the Date header, so it
// runs with --allow-mismatched-signatures; the signatures themselves are checked
// against botocore by the storage stand-in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/client/UploadTestSupport.h"
#include "tests/support/Peer.h"
#include "transfer/TXS3ObjectRequest.h"

namespace {

using testsupport::Peer;
using uploadtest::fieldsOf;

constexpr const char* kKey = "S3RVER";  // s3rver's built-in account, key and secret
constexpr const char* kBucket = "quorvane";

std::string s3rverPath() {
    const char* source = std::getenv("QV_SOURCE_DIR");
    std::string path =
        std::string(source != nullptr ? source : ".") + "/tests/peers/node_modules/.bin/s3rver";
    return ::access(path.c_str(), X_OK) == 0 ? path : "";
}

class S3rverUploadTest : public uploadtest::UploadRoadTest {
  protected:
    void SetUp() override {
        UploadRoadTest::SetUp();
        const std::string s3rver = s3rverPath();
        QV_REQUIRE_PEER_BINARY(s3rver, "s3rver");
        if (!startService()) {
            if (Peer::isCi()) {
                FAIL() << "the stand-in service is missing";
            }
            GTEST_SKIP() << "the stand-in service is missing";
        }
        const uint16_t port = Peer::freePort();
        // The endpoint "localhost" makes s3rver read "<bucket>.s3.localhost" as a bucket
        // address, the way S3 reads its own host names.
        ASSERT_TRUE(s3rver_.start(
            {s3rver, "--directory", dir.makeFolder("store"), "--address", "127.0.0.1", "--port",
             std::to_string(port), "--silent", "--allow-mismatched-signatures",
             "--service-endpoint", "localhost", "--configure-bucket", kBucket},
            dir.path(), port))
            << s3rver_.failure();
        ::setenv("QUORVANE_STORAGE_HOST", ("s3.localhost:" + std::to_string(port)).c_str(), 1);
        ::setenv("QUORVANE_STORAGE_SCHEME", "http", 1);
        ::setenv("QUORVANE_STORAGE_BUCKET", kBucket, 1);
        // Every client sets the shared storage keys from the configuration.
        ::setenv("QUORVANE_STORAGE_ACCESS_KEY", kKey, 1);
        ::setenv("QUORVANE_STORAGE_SECRET_KEY", kKey, 1);
        makeClient(service->url());
    }
    void TearDown() override {
        UploadRoadTest::TearDown();
        TXS3Request::setSharedAccessKey("");
        TXS3Request::setSharedSecretAccessKey("");
        ::unsetenv("QUORVANE_STORAGE_HOST");
        ::unsetenv("QUORVANE_STORAGE_SCHEME");
        ::unsetenv("QUORVANE_STORAGE_BUCKET");
        ::unsetenv("QUORVANE_STORAGE_ACCESS_KEY");
        ::unsetenv("QUORVANE_STORAGE_SECRET_KEY");
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

    Peer s3rver_;
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
