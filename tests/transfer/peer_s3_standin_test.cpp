// S3 requests and multipart uploads against the strict stand-in, whose signature
// check is botocore's own signer.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/crypto/Digest.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/TestCertificates.h"
#include "tests/transfer/S3StandIn.h"
#include "transfer/OWTXS3MultipartRequest.h"
#include "transfer/OWTXS3SegmentedRequest.h"
#include "transfer/TXNetworkQueue.h"
#include "transfer/TXS3BucketRequest.h"
#include "transfer/TXS3ObjectRequest.h"

namespace {

using testsupport::S3StandIn;

std::string sha256(const std::string& bytes) {
    using platform::crypto::Digest;
    return Digest::hex(Digest::of(Digest::Algorithm::SHA256, bytes));
}

class Recorder : public TXHTTPRequestDelegate, public TXProgressDelegate {
  public:
    void requestFinished(TXHTTPRequest&) override { ++finished; }
    void requestFailed(TXHTTPRequest& r) override {
        ++failed;
        error = r.error();
    }
    void didSendBytes(TXHTTPRequest&, int64_t amount) override {
        sent += amount;
        amounts.push_back(amount);
    }
    int finished = 0;
    int failed = 0;
    int64_t sent = 0;
    std::vector<int64_t> amounts;
    std::optional<base::Error> error;
};

// An upload whose parts are tried again after one idle second instead of 120.
class QuickPartsUpload : public OWTXS3MultipartRequest {
  public:
    explicit QuickPartsUpload(const std::optional<base::Url>& url) : OWTXS3MultipartRequest(url) {}
    static std::shared_ptr<QuickPartsUpload> PUT(const std::string& path, const std::string& key) {
        return upload<QuickPartsUpload>(path, S3StandIn::kBucket, key);
    }

  protected:
    double partTimeOutSeconds() const override { return 1.0; }
};

class S3StandInTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        std::string python = S3StandIn::interpreter();
        QV_REQUIRE_PEER_BINARY(python, "python3 with botocore");
        ASSERT_TRUE(server.start()) << server.failure();
        TXS3Request::setSharedAccessKey(S3StandIn::kAccessKey);
        TXS3Request::setSharedSecretAccessKey(S3StandIn::kSecretKey);
        recorder = std::make_shared<Recorder>();
    }

    std::string writeFile(const std::string& name, size_t size) {
        std::string bytes(size, '\0');
        std::mt19937 rng(static_cast<unsigned>(size));
        for (auto& c : bytes) c = static_cast<char>(rng());
        return dir.write(name, bytes);
    }

    bool run(const std::shared_ptr<TXHTTPRequest>& request, double timeout = 120) {
        request->setDelegate(recorder);
        request->startAsynchronous();
        return pumpUntil([&] { return recorder->finished + recorder->failed > 0; }, timeout);
    }

    S3StandIn server;
    testsupport::TempDir dir;
    std::shared_ptr<Recorder> recorder;
};

TEST_F(S3StandInTest, SignedPutOfAFileIsStoredAndReadBack) {
    std::string path = writeFile("My Film+1.mov", 300000);
    auto put =
        TXS3ObjectRequest::PUTRequestForFile(path, S3StandIn::kBucket, "uploads/My Film+1.mov");
    ASSERT_TRUE(run(put));
    ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    EXPECT_EQ(server.objectBytes("uploads/My Film+1.mov"), testsupport::readFile(path));
}

// A queue that counts bytes measures each GET with a HEAD companion first. A bucket
// listing has no URL until it starts, and a GET may carry x-amz headers: both
// companions must be addressed and signed as the storage service checks them.
TEST_F(S3StandInTest, HEADCompanionsOfAQueueAreAddressedAndSigned) {
    for (const char* key : {"list/a.mov", "list/b.mov"}) {
        recorder = std::make_shared<Recorder>();
        ASSERT_TRUE(run(TXS3ObjectRequest::PUTRequestForData(base::Data(key, key + 10),
                                                             S3StandIn::kBucket, key)));
        ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    }
    auto queue = TXNetworkQueue::queue();
    queue->setShowAccurateProgress(true);
    auto listing = TXS3BucketRequest::requestWithBucket(S3StandIn::kBucket);
    listing->setPrefix("list/");
    auto get = TXS3ObjectRequest::requestWithBucket(S3StandIn::kBucket, "list/b.mov");
    get->setAccessPolicy(TXS3AccessPolicyPrivate);
    get->addRequestHeader("X-Amz-Request-Payer", "requester");
    std::vector<std::shared_ptr<Recorder>> outcomes;
    for (const std::shared_ptr<TXHTTPRequest>& request :
         std::vector<std::shared_ptr<TXHTTPRequest>>{listing, get}) {
        outcomes.push_back(std::make_shared<Recorder>());
        request->setDelegate(outcomes.back());
        queue->addOperation(request);
    }
    queue->go();
    ASSERT_TRUE(pumpUntil(
        [&] {
            return std::all_of(outcomes.begin(), outcomes.end(),
                               [](auto& o) { return o->finished + o->failed > 0; });
        },
        60));
    for (auto& outcome : outcomes) {
        ASSERT_EQ(outcome->failed, 0) << outcome->error->localizedDescription();
    }
    std::vector<std::string> keys;
    for (const auto& object : listing->objects()) keys.push_back(object.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"list/a.mov", "list/b.mov"}));
    EXPECT_EQ(get->responseString().value_or(""), "list/b.mov");
    EXPECT_EQ(server.stat("heads"), 2);
    EXPECT_EQ(server.stat("signature_failures"), 0);
}

TEST_F(S3StandInTest, AWrongSecretIsRefusedWithS3sMessage) {
    auto get = TXS3ObjectRequest::requestWithBucket(S3StandIn::kBucket, "a");
    get->setSecretAccessKey("wrong");
    ASSERT_TRUE(run(get));
    ASSERT_EQ(recorder->failed, 1);
    EXPECT_EQ(recorder->error->code(), 2);
    EXPECT_NE(recorder->error->localizedDescription().find("signature"), std::string::npos);
}

TEST_F(S3StandInTest, AnErrorStatusWithoutBodyIsAFailure) {
    ASSERT_TRUE(server.script("{\"status_only\": 503}"));
    auto put = TXS3ObjectRequest::PUTRequestForData(base::Data{1, 2, 3}, S3StandIn::kBucket, "k");
    ASSERT_TRUE(run(put));
    EXPECT_EQ(recorder->failed, 1);
    EXPECT_EQ(recorder->finished, 0);
}

TEST_F(S3StandInTest, MultipartUploadReassemblesTheFile) {
    std::string path = writeFile("big.mov", 20971520 + 1);
    auto upload = OWTXS3MultipartRequest::PUTRequestForFile(path, S3StandIn::kBucket, "big.mov");
    ASSERT_TRUE(run(upload, 300));
    ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    EXPECT_EQ(upload->segmentCount(), 2u);
    EXPECT_EQ(server.objectBytes("big.mov"), testsupport::readFile(path));
    EXPECT_EQ(server.stat("completes"), 1);
    EXPECT_EQ(server.stat("aborts"), 0);
}

TEST_F(S3StandInTest, AnEmptyFileUploadsAsOneEmptyPart) {
    std::string path = dir.write("empty.mov", "");
    auto upload = OWTXS3MultipartRequest::PUTRequestForFile(path, S3StandIn::kBucket, "empty.mov");
    ASSERT_TRUE(run(upload));
    EXPECT_EQ(recorder->finished, 1);
    EXPECT_EQ(server.stat("parts"), 1);
}

TEST_F(S3StandInTest, APartWithoutETagFailsAndAbortsOnce) {
    ASSERT_TRUE(server.script("{\"part_500_no_etag\": 1, \"namespaced\": false}"));
    std::string path = writeFile("p.mov", 1000);
    auto upload = OWTXS3MultipartRequest::PUTRequestForFile(path, S3StandIn::kBucket, "p.mov");
    ASSERT_TRUE(run(upload));
    EXPECT_EQ(recorder->failed, 1);
    EXPECT_NE(recorder->error->code(), 4);
    EXPECT_TRUE(pumpUntil([&] { return server.stat("aborts") == 1; }));
}

TEST_F(S3StandInTest, ACompleteAnsweredWithAnErrorDocumentFails) {
    ASSERT_TRUE(server.script("{\"complete_200_error\": true}"));
    std::string path = writeFile("c.mov", 1000);
    auto upload = OWTXS3MultipartRequest::PUTRequestForFile(path, S3StandIn::kBucket, "c.mov");
    ASSERT_TRUE(run(upload));
    ASSERT_EQ(recorder->failed, 1);
    EXPECT_EQ(recorder->error->localizedDescription(),
              "We encountered an internal error. Please try again.");
    EXPECT_TRUE(pumpUntil([&] { return server.stat("aborts") == 1; }));
    EXPECT_EQ(recorder->finished, 0);
}

// S3 answers a connection that went quiet with RequestTimeout and drops it: the
// request goes once more, on a new connection, with the Date it was signed with.
TEST_F(S3StandInTest, ARequestTimeoutIsSentOnceMoreOnANewConnectionWithItsDate) {
    ASSERT_TRUE(server.script("{\"request_timeout\": 1}"));
    auto put = TXS3ObjectRequest::PUTRequestForData(base::Data{'a', 'b'}, S3StandIn::kBucket, "t");
    ASSERT_TRUE(run(put));
    ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    EXPECT_EQ(recorder->finished, 1);
    EXPECT_EQ(put->retryCount(), 1);
    EXPECT_EQ(server.objectBytes("t"), "ab");
    EXPECT_EQ(server.stat("reused_after_timeout"), 0);
    EXPECT_EQ(server.stat("same_date_after_timeout"), 1);
}

TEST_F(S3StandInTest, ASecondRequestTimeoutFailsWithS3sMessage) {
    ASSERT_TRUE(server.script("{\"request_timeout\": 2}"));
    auto get = TXS3ObjectRequest::requestWithBucket(S3StandIn::kBucket, "absent");
    ASSERT_TRUE(run(get));
    ASSERT_EQ(recorder->failed, 1);
    EXPECT_EQ(recorder->finished, 0);
    EXPECT_EQ(recorder->error->code(), 2);
    EXPECT_NE(recorder->error->localizedDescription().find("socket connection"), std::string::npos);
    EXPECT_EQ(get->retryCount(), 1);
}

// A part is read from its range of the file again for the resend, whole.
TEST_F(S3StandInTest, APartResentAfterRequestTimeoutKeepsItsBody) {
    std::string path = writeFile("range.mov", 70000);
    ASSERT_TRUE(server.script("{\"request_timeout\": 1}"));
    auto part = OWTXS3SegmentedRequest::PUTRequestForSegment(path, {1000, 50000},
                                                             S3StandIn::kBucket, "range");
    ASSERT_TRUE(part->readFileData());
    ASSERT_TRUE(run(part));
    ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    EXPECT_EQ(part->retryCount(), 1);
    EXPECT_EQ(server.objectBytes("range"), testsupport::readFile(path).substr(1000, 50000));
}

TEST_F(S3StandInTest, AnInitiateTimedOutOnceStillUploads) {
    ASSERT_TRUE(server.script("{\"request_timeout\": 1}"));
    std::string path = writeFile("i.mov", 4000);
    auto upload = OWTXS3MultipartRequest::PUTRequestForFile(path, S3StandIn::kBucket, "i.mov");
    ASSERT_TRUE(run(upload));
    ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    EXPECT_EQ(server.objectBytes("i.mov"), testsupport::readFile(path));
    EXPECT_EQ(server.stat("initiates"), 1);
}

// The parts' progress adds up as a single request's does: each part's count falls
// short only by what its first write left queued in the kernel (64 KiB at most),
// however long the part runs past the first tick, and no amount goes back.
TEST_F(S3StandInTest, MultipartProgressMissesAtMostTheFirstWriteOfEachPart) {
    constexpr int64_t kFirstWriteAtMost = 256 * 1024;
    ASSERT_TRUE(server.script("{\"read_rate\": 16000000}"));
    const size_t size = (40u << 20) + 500000;
    std::string path = writeFile("progress.mov", size);
    auto upload =
        OWTXS3MultipartRequest::PUTRequestForFile(path, S3StandIn::kBucket, "progress.mov");
    ASSERT_TRUE(run(upload, 120));
    ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    ASSERT_EQ(upload->segmentCount(), 3u);
    int64_t unreported = static_cast<int64_t>(size) - recorder->sent;
    EXPECT_GE(unreported, 0);
    EXPECT_LE(unreported, 3 * kFirstWriteAtMost)
        << unreported << " of " << size << " bytes were never reported";
    EXPECT_GT(recorder->amounts.size(), 6u) << "each part outlasted the first tick";
    for (int64_t amount : recorder->amounts) EXPECT_GT(amount, 0);
}

// ---- part retries and cancellation ----------------------------------------

TEST_F(S3StandInTest, AStalledPartIsTriedAgainAndTheUploadCompletes) {
    ASSERT_TRUE(server.script("{\"stall_parts\": 2}"));
    std::string path = writeFile("s.mov", 1000);
    auto upload = QuickPartsUpload::PUT(path, "s.mov");
    ASSERT_TRUE(run(upload, 60));
    ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
    EXPECT_EQ(server.stat("stalls"), 2);
    EXPECT_EQ(server.stat("parts"), 3);
    EXPECT_EQ(server.objectBytes("s.mov"), testsupport::readFile(path));
    // Each try reports its bytes; the correction after a retry is not passed on.
    EXPECT_GE(recorder->sent, 1000);
}

TEST_F(S3StandInTest, APartStalledSixTimesFailsTheUploadWithItsTimeOut) {
    ASSERT_TRUE(server.script("{\"stall_parts\": 6}"));
    std::string path = writeFile("six.mov", 1000);
    auto upload = QuickPartsUpload::PUT(path, "six.mov");
    ASSERT_TRUE(run(upload, 90));
    ASSERT_EQ(recorder->failed, 1);
    EXPECT_EQ(recorder->finished, 0);
    EXPECT_EQ(recorder->error->code(), 2);
    EXPECT_EQ(recorder->error->localizedDescription(), "The request timed out");
    EXPECT_EQ(server.stat("parts"), 6);  // the first try and five more
    EXPECT_TRUE(pumpUntil([&] { return server.stat("aborts") == 1; }));
    EXPECT_EQ(server.stat("completes"), 0);
}

TEST_F(S3StandInTest, CancellingWhileAPartRunsReportsTheCancelOnceAndAborts) {
    ASSERT_TRUE(server.script("{\"stall_parts\": 1}"));
    std::string path = writeFile("c.mov", 1000);
    auto upload = QuickPartsUpload::PUT(path, "c.mov");
    upload->setDelegate(recorder);
    upload->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return server.stat("stalls") == 1; }, 30));
    upload->cancel();
    ASSERT_TRUE(pumpUntil([&] { return recorder->failed > 0; }));
    EXPECT_EQ(recorder->error->code(), 4);
    EXPECT_EQ(recorder->error->localizedDescription(), "The request was cancelled");
    EXPECT_TRUE(pumpUntil([&] { return server.stat("aborts") == 1; }));
    EXPECT_TRUE(pumpUntil([&] { return upload->isFinished(); }));
    upload->cancel();
    EXPECT_EQ(recorder->failed, 1);
    EXPECT_EQ(recorder->finished, 0);
    EXPECT_EQ(server.stat("completes"), 0);
    EXPECT_EQ(server.stat("aborts"), 1);
}

// Cancelled before the storage service named the upload: once it does, the
// upload it set up is aborted rather than left behind, and no part is sent.
TEST_F(S3StandInTest, CancellingBeforeTheUploadIdIsKnownAbortsItWhenItArrives) {
    ASSERT_TRUE(server.script("{\"slow_seconds\": 1}"));
    std::string path = writeFile("early.mov", 1000);
    auto upload = OWTXS3MultipartRequest::PUTRequestForFile(path, S3StandIn::kBucket, "early.mov");
    upload->setDelegate(recorder);
    upload->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return upload->isExecuting(); }));
    upload->cancel();
    ASSERT_TRUE(pumpUntil([&] { return recorder->failed > 0; }));
    EXPECT_EQ(recorder->error->code(), 4);
    ASSERT_TRUE(server.script("{\"slow_seconds\": 0}"));
    EXPECT_TRUE(pumpUntil([&] { return server.stat("aborts") == 1; }, 20));
    EXPECT_EQ(server.stat("parts"), 0);
    EXPECT_EQ(recorder->failed, 1);
}

// ---- uploads over TLS to a receiver that reads late and slowly -------------------

class S3StandInTlsTest : public S3StandInTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        QV_REQUIRE_PEER_BINARY(S3StandIn::interpreter(), "python3 with botocore");
        QV_REQUIRE_PEER_BINARY(testsupport::Peer::findBinary("openssl"), "openssl");
        std::string error;
        ASSERT_TRUE(certs.make(dir.makeFolder("certs"), error)) << error;
        ASSERT_TRUE(server.startWithTls(certs.serverCert, certs.serverKey)) << server.failure();
        TXS3Request::setSharedAccessKey(S3StandIn::kAccessKey);
        TXS3Request::setSharedSecretAccessKey(S3StandIn::kSecretKey);
        recorder = std::make_shared<Recorder>();
    }
    void TearDown() override {
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }
    testsupport::TestCertificates certs;
};

// The server's TLS 1.3 session tickets reach the socket while the body is still
// going out; they are no early answer, and the upload must not stop at them. The
// stand-in starts reading each body a second late and then at 48 MB/s, so the
// body waits in full socket buffers for a while.
TEST_F(S3StandInTlsTest, LargeUploadsReachALateSlowReaderWholeOverTls12And13) {
    std::string single = writeFile("single.mov", 8u << 20);
    std::string parts = writeFile("parts.mov", (20u << 20) + 300000);
    for (const char* version : {"1.2", "1.3"}) {
        SCOPED_TRACE(std::string("TLS ") + version);
        ASSERT_TRUE(server.script(std::string("{\"tls_version\": \"") + version +
                                  "\", \"read_delay\": 1, \"read_rate\": 48000000}"));
        std::string key = std::string("tls") + version;
        auto put = TXS3ObjectRequest::PUTRequestForFile(single, S3StandIn::kBucket, key);
        put->setCertificateAuthorityFile(certs.caCert);
        recorder->finished = recorder->failed = 0;
        ASSERT_TRUE(run(put, 60));
        ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
        EXPECT_EQ(sha256(server.objectBytes(key)), sha256(testsupport::readFile(single)));

        auto upload =
            OWTXS3MultipartRequest::PUTRequestForFile(parts, S3StandIn::kBucket, key + "-parts");
        upload->setCertificateAuthorityFile(certs.caCert);
        recorder->finished = recorder->failed = 0;
        ASSERT_TRUE(run(upload, 120));
        ASSERT_EQ(recorder->failed, 0) << recorder->error->localizedDescription();
        EXPECT_EQ(sha256(server.objectBytes(key + "-parts")), sha256(testsupport::readFile(parts)));
    }
    EXPECT_EQ(server.stat("parts"), 4);
}

}  // namespace
