// The request flow against an S3 implementation nobody here wrote (s3rver, pinned
// in tests/peers), with virtual-host bucket addresses (bucket.s3.localhost); objects
// read back by our own GET and by s3cmd. s3rver cannot check signatures made with
// a Date header, so it runs with --allow-mismatched-signatures; the signature bytes
// are proved against botocore by the stand-in tests.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "platform/crypto/Digest.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/Peer.h"
#include "tests/helpers/S3rver.h"
#include "tests/helpers/TempDir.h"
#include "tests/transfer/RecordingDelegate.h"
#include "transfer/OWTXS3MultipartRequest.h"
#include "transfer/TXS3ObjectRequest.h"

namespace {

using testsupport::Peer;
using testsupport::S3rver;
using Recorder = txtest::RecordingDelegate;

constexpr const char* kBucket = "reviews";
constexpr const char* kAccessKey = S3rver::kKey;
constexpr const char* kSecretKey = S3rver::kKey;

std::string sha256(const std::string& bytes) {
    using platform::crypto::Digest;
    return Digest::hex(Digest::of(Digest::Algorithm::SHA256, bytes));
}

class S3rverTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        QV_REQUIRE_PEER_BINARY(S3rver::binary(), "s3rver (tests/peers, npm)");
        ASSERT_TRUE(server.start(kBucket)) << server.failure();
        port = server.port();
        TXS3Request::setSharedAccessKey(kAccessKey);
        TXS3Request::setSharedSecretAccessKey(kSecretKey);
        recorder = std::make_shared<Recorder>();
    }
    void TearDown() override {
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }

    bool run(const std::shared_ptr<TXHTTPRequest>& request, double timeout = 120) {
        recorder->finished = recorder->failed = 0;
        request->setDelegate(recorder);
        request->startAsynchronous();
        return pumpUntil([&] { return recorder->finished + recorder->failed > 0; }, timeout);
    }
    std::string writeFile(const std::string& name, size_t size) {
        std::string bytes(size, '\0');
        std::mt19937_64 rng(size);
        for (size_t i = 0; i + 8 <= size; i += 8) {
            uint64_t v = rng();
            std::memcpy(&bytes[i], &v, 8);
        }
        return dir.write(name, bytes);
    }
    // The object as our own GET reads it, to a file.
    std::string readBack(const std::string& key) {
        auto get = TXS3ObjectRequest::requestWithBucket(kBucket, key);
        std::string out = dir.path() + "/read-" + std::to_string(++reads);
        get->setDownloadDestinationPath(out);
        EXPECT_TRUE(run(get));
        EXPECT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
        return testsupport::readFile(out);
    }

    testsupport::TempDir dir;
    S3rver server;
    uint16_t port = 0;
    int reads = 0;
    std::shared_ptr<Recorder> recorder;
};

TEST_F(S3rverTest, PutGetHeadAndDeleteOfOneObject) {
    std::string path = writeFile("clip one.mov", 123457);
    auto put = TXS3ObjectRequest::PUTRequestForFile(path, kBucket, "folder/clip one.mov");
    ASSERT_TRUE(run(put));
    ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    EXPECT_EQ(sha256(readBack("folder/clip one.mov")), sha256(testsupport::readFile(path)));

    auto head = TXS3ObjectRequest::HEADRequestWithBucket(kBucket, "folder/clip one.mov");
    ASSERT_TRUE(run(head));
    EXPECT_EQ(head->responseStatusCode(), 200);

    auto del = TXS3ObjectRequest::DELETERequestWithBucket(kBucket, "folder/clip one.mov");
    ASSERT_TRUE(run(del));
    EXPECT_EQ(recorder->failed, 0);
    auto gone = TXS3ObjectRequest::requestWithBucket(kBucket, "folder/clip one.mov");
    ASSERT_TRUE(run(gone));
    ASSERT_EQ(recorder->failed, 1);
    EXPECT_EQ(recorder->error->code(), 2);
}

TEST_F(S3rverTest, AnEmptyObjectIsStored) {
    auto put = TXS3ObjectRequest::PUTRequestForData(base::Data{}, kBucket, "empty");
    ASSERT_TRUE(run(put));
    ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    auto head = TXS3ObjectRequest::HEADRequestWithBucket(kBucket, "empty");
    ASSERT_TRUE(run(head));
    EXPECT_EQ(head->responseStatusCode(), 200);
}

// 41 MiB: parts of 20, 20 and 1 MiB, reassembled in part order and read back
// byte for byte, by us and by s3cmd.
TEST_F(S3rverTest, AMultipartUploadOf41MiBReadsBackByteEqual) {
    const size_t size = 41u << 20;
    std::string path = writeFile("big.mov", size);
    auto upload = OWTXS3MultipartRequest::PUTRequestForFile(path, kBucket, "big.mov");
    ASSERT_TRUE(run(upload, 300));
    ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    EXPECT_EQ(upload->segmentCount(), 3u);
    auto etags = upload->etags();
    ASSERT_EQ(etags.size(), 3u);
    for (const auto& [number, etag] : etags) {
        ASSERT_GE(etag.size(), 2u);
        EXPECT_EQ(etag.front(), '"') << number;
        EXPECT_EQ(etag.back(), '"') << number;
    }
    std::string expected = sha256(testsupport::readFile(path));
    EXPECT_EQ(sha256(readBack("big.mov")), expected);

    std::string s3cmd = Peer::findBinary("s3cmd");
    if (s3cmd.empty()) {
        if (Peer::isCi()) {
            FAIL() << "s3cmd is not installed (run scripts/setup)";
        }
        return;
    }
    std::string config =
        dir.write("s3cfg", "[default]\naccess_key = " + std::string(kAccessKey) +
                               "\nsecret_key = " + kSecretKey +
                               "\nhost_base = 127.0.0.1:" + std::to_string(port) +
                               "\nhost_bucket = 127.0.0.1:" + std::to_string(port) +
                               "\nuse_https = False\nsignature_v2 = True\n"
                               "check_ssl_certificate = False\n");
    std::string out = dir.path() + "/s3cmd-copy";
    ASSERT_EQ(Peer::runTool({s3cmd, "-c", config, "--no-progress", "get",
                             std::string("s3://") + kBucket + "/big.mov", out},
                            dir.path() + "/s3cmd.log"),
              0)
        << testsupport::readFile(dir.path() + "/s3cmd.log");
    EXPECT_EQ(sha256(testsupport::readFile(out)), expected);
}

}  // namespace
