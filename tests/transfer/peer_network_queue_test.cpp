// The request batch against nginx: HEAD requests measure the files before they are
// fetched, progress adds up over the batch, and a failure cancels the rest or not.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "tests/helpers/MainThread.h"
#include "tests/helpers/Peer.h"
#include "tests/helpers/TempDir.h"
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
        // /slow/ trickles its files out so that a request there is still running
        // whenever the test needs it to be.
        ASSERT_TRUE(nginx.start(
            dir, "  location /slow/ { alias " + dir.file("nginx/www/") + "; limit_rate 1k; }\n",
            error))
            << error;
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
    // One at a time the HEAD requests, ranked first, all end before any file comes,
    // so the total is whole before the first byte counts and progress never goes back.
    q->setMaxConcurrentOperationCount(1);
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
    // nginx logs a request after its answer is sent, so the last line may trail it.
    std::string log;
    ASSERT_TRUE(pumpUntil(
        [&] {
            log = accessLog();
            return std::count(log.begin(), log.end(), '\n') >= 6;
        },
        10))
        << log;
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
    // The failure reaches the queue on the main thread while the next request runs;
    // that one lasts minutes, so the cancellation finds it running and the files after
    // it still waiting, however slowly the main thread comes round.
    auto running = TXHTTPRequest::requestWithURL(U(nginx.url("/slow/f300000")));
    q->addOperation(running);
    auto rs = addFiles();
    q->go();
    ASSERT_TRUE(pumpUntil([&] { return watcher->done == 1; }, 30));
    EXPECT_EQ(1, refused->error()->code());
    ASSERT_TRUE(running->error());
    EXPECT_EQ(4, running->error()->code());
    for (size_t i = 0; i < rs.size(); ++i) {
        ASSERT_TRUE(rs[i]->error()) << i;
        EXPECT_EQ(4, rs[i]->error()->code()) << i;
    }
    EXPECT_EQ(std::string::npos, accessLog().find("GET /f"));
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
