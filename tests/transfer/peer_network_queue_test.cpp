// The request batch against nginx: HEAD requests measure the files before they are
// fetched, progress adds up over the batch, and a failure cancels the rest or not.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/MainThread.h"
#include "tests/support/Peer.h"
#include "tests/support/TempDir.h"
#include "tests/transfer/StaticNginx.h"
#include "transfer/TXNetworkQueue.h"

namespace {

base::Url U(const std::string& text) {
    return *base::Url::parse(text);
}

struct Bar : TXProgressDelegate {
    std::vector<double> values;
    void setDoubleValue(double v) override { values.push_back(v); }
};

struct Watcher : TXHTTPRequestDelegate {
    int done = 0;
    void onQueueFinished(TXNetworkQueue&) { ++done; }
};

class NginxQueueTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        QV_REQUIRE_PEER_BINARY(testsupport::Peer::findBinary("nginx"), "nginx");
        std::string error;
        ASSERT_TRUE(nginx.start(dir, "", error)) << error;
        for (size_t size : sizes) {
            std::ofstream(nginx.root + "/f" + std::to_string(size), std::ios::binary)
                << std::string(size, 'n');
        }
        q = TXNetworkQueue::queue();
        watcher = std::make_shared<Watcher>();
        q->setDelegate(watcher);
        q->setQueueDidFinishSelector(TXQueueFinishedSelector(&Watcher::onQueueFinished));
    }
    void TearDown() override {
        q.reset();
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }
    std::vector<std::shared_ptr<TXHTTPRequest>> addFiles() {
        std::vector<std::shared_ptr<TXHTTPRequest>> rs;
        for (size_t size : sizes) {
            rs.push_back(TXHTTPRequest::requestWithURL(U(nginx.url("/f" + std::to_string(size)))));
            q->addOperation(rs.back());
        }
        return rs;
    }
    std::string accessLog() const { return testsupport::readFile(dir.file("nginx/access.log")); }
    const std::vector<size_t> sizes{1000, 70000, 300000};
    testsupport::TempDir dir;
    txtest::StaticNginx nginx;
    std::shared_ptr<TXNetworkQueue> q;
    std::shared_ptr<Watcher> watcher;
};

TEST_F(NginxQueueTest, HEADSizesGiveTheWholeBatchItsByteTotal) {
    q->setShowAccurateProgress(true);
    auto bar = std::make_shared<Bar>();
    q->setDownloadProgressDelegate(bar);
    auto rs = addFiles();
    q->go();
    ASSERT_TRUE(pumpUntil([&] { return watcher->done == 1; }, 30));
    EXPECT_EQ(371000u, q->totalBytesToDownload());
    EXPECT_EQ(371000u, q->bytesDownloadedSoFar());
    ASSERT_FALSE(bar->values.empty());
    EXPECT_DOUBLE_EQ(1.0, bar->values.back());
    for (size_t i = 1; i < bar->values.size(); ++i) {
        EXPECT_LE(bar->values[i - 1], bar->values[i]) << "progress went back at " << i;
    }
    std::string log = accessLog();
    for (size_t size : sizes) {
        std::string name = "/f" + std::to_string(size);
        size_t head = log.find("\"HEAD " + name + " ");
        size_t get = log.find("\"GET " + name + " ");
        ASSERT_NE(std::string::npos, head) << name;
        ASSERT_NE(std::string::npos, get) << name;
        EXPECT_LT(head, get) << name;
    }
    for (auto& r : rs) EXPECT_EQ(200, r->responseStatusCode());
}

TEST_F(NginxQueueTest, AFailureCancelsTheFilesNotYetFetched) {
    q->setMaxConcurrentOperationCount(1);
    auto refused = TXHTTPRequest::requestWithURL(
        U("http://127.0.0.1:" + std::to_string(testsupport::Peer::freePort()) + "/"));
    q->addOperation(refused);
    auto rs = addFiles();
    q->go();
    ASSERT_TRUE(pumpUntil([&] { return watcher->done == 1; }, 30));
    EXPECT_EQ(1, refused->error()->code());
    // The cancellation follows the failure's report on the main thread; the request
    // started in between may still arrive whole, but none after it starts.
    for (size_t i = 0; i < rs.size(); ++i) {
        if (i == 0 && !rs[i]->error())
            continue;
        ASSERT_TRUE(rs[i]->error()) << i;
        EXPECT_EQ(4, rs[i]->error()->code());
    }
    EXPECT_EQ(std::string::npos, accessLog().find("GET /f300000"));
}

TEST_F(NginxQueueTest, WithoutCancellingTheOtherFilesArrive) {
    q->setShouldCancelAllRequestsOnFailure(false);
    q->setMaxConcurrentOperationCount(1);
    auto refused = TXHTTPRequest::requestWithURL(
        U("http://127.0.0.1:" + std::to_string(testsupport::Peer::freePort()) + "/"));
    q->addOperation(refused);
    auto rs = addFiles();
    q->go();
    ASSERT_TRUE(pumpUntil([&] { return watcher->done == 1; }, 30));
    for (size_t i = 0; i < rs.size(); ++i) {
        EXPECT_FALSE(rs[i]->error());
        EXPECT_EQ(sizes[i], rs[i]->rawResponseData().size());
    }
    EXPECT_EQ(4u, q->totalBytesToDownload());  // one unit per request
    EXPECT_EQ(3u, q->bytesDownloadedSoFar());
}

}  // namespace
