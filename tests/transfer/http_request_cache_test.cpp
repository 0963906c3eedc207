// Answers from a response cache (a small cache written here stands in for the real
// one): fresh answers without the network, conditional requests answered 304,
// the cache standing in for a failed network, and the dates it is given.
#include <gtest/gtest.h>

#include "platform/net/HttpHeaders.h"
#include "tests/helpers/MainThread.h"
#include "tests/transfer/HttpTestServer.h"
#include "tests/transfer/RecordingDelegate.h"
#include "transfer/TXHTTPRequest.h"

namespace {

using txtest::HttpTestServer;
using txtest::ReceivedRequest;
using Reply = HttpTestServer::Reply;

class MemoryCache : public TXCacheDelegate {
  public:
    int policy = 0;
    std::function<bool(TXHTTPRequest&)> canUse = [](TXHTTPRequest&) { return false; };
    std::optional<platform::net::HttpHeaders> headers;
    base::Data data;
    int stored = 0, renewed = 0;
    double storedMaxAge = -1;

    int defaultCachePolicy() const override { return policy; }
    bool canUseCachedDataForRequest(TXHTTPRequest& r) override { return headers && canUse(r); }
    std::optional<platform::net::HttpHeaders> cachedResponseHeadersForURL(
        const base::Url&) override {
        return headers;
    }
    std::optional<std::string> pathToCachedResponseDataForURL(const base::Url&) override {
        return headers ? std::optional<std::string>("/cache/entry.bin") : std::nullopt;
    }
    std::optional<base::Data> cachedResponseDataForURL(const base::Url&) override { return data; }
    void storeResponseForRequest(TXHTTPRequest&, double maxAge) override {
        ++stored;
        storedMaxAge = maxAge;
    }
    void updateExpiryForRequest(TXHTTPRequest&, double) override { ++renewed; }
};

class CacheTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        cache = std::make_shared<MemoryCache>();
        cache->headers.emplace();
        cache->headers->set("X-TXHTTPRequest-Response-Status-Code", "203");
        cache->headers->set("Content-Type", "text/plain; charset=utf-8");
        cache->headers->set("Content-Length", "6");
        cache->headers->set("Etag", "\"v1\"");
        cache->headers->set("Last-Modified", "Sun, 06 Nov 1994 08:49:37 GMT");
        std::string body = "cach\xc3\xa9";
        cache->data.assign(body.begin(), body.end());
        delegate = std::make_shared<txtest::RecordingDelegate>();
    }
    std::shared_ptr<TXHTTPRequest> request(const std::string& url) {
        auto r = TXHTTPRequest::requestWithURL(*base::Url::parse(url), cache);
        r->setDelegate(delegate);
        return r;
    }
    void expectCachedAnswer(const TXHTTPRequest& r) {
        EXPECT_FALSE(r.error());
        EXPECT_TRUE(r.didUseCachedResponse());
        EXPECT_EQ(203, r.responseStatusCode());
        EXPECT_EQ("caché", r.responseString().value_or(""));
        EXPECT_EQ(6u, r.contentLength());
        EXPECT_EQ(1, delegate->finished);
        EXPECT_EQ(0, delegate->failed);
        EXPECT_TRUE(r.isFinished());
    }
    std::shared_ptr<MemoryCache> cache;
    std::shared_ptr<txtest::RecordingDelegate> delegate;
};

TEST_F(CacheTest, FreshEntryAnswersWithoutTheNetwork) {
    HttpTestServer server(
        [](const ReceivedRequest&) { return Reply{HttpTestServer::response(200, "", "network")}; });
    cache->canUse = [](TXHTTPRequest&) { return true; };
    auto r = request(server.url("/a"));
    r->startSynchronous();
    expectCachedAnswer(*r);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(0, cache->stored);

    // A download is answered with the cached file itself.
    auto download = request(server.url("/a"));
    download->setDownloadDestinationPath("/somewhere/else.bin");
    download->startSynchronous();
    EXPECT_EQ("/cache/entry.bin", download->downloadDestinationPath());
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(CacheTest, ConditionalRequestIsAnsweredFromTheCacheOn304) {
    HttpTestServer server([](const ReceivedRequest& r) {
        if (r.header("If-None-Match") == "\"v1\"")
            return Reply{"HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n\r\n"};
        return Reply{HttpTestServer::response(200, "", "network")};
    });
    cache->policy = 4;
    cache->canUse = [](TXHTTPRequest& r) { return r.responseStatusCode() == 304; };
    auto r = request(server.url("/b"));
    r->startSynchronous();
    ASSERT_EQ(1u, server.requests().size());
    EXPECT_EQ("Sun, 06 Nov 1994 08:49:37 GMT", server.requests()[0].header("If-Modified-Since"));
    expectCachedAnswer(*r);
    EXPECT_EQ(1, cache->renewed);
    EXPECT_EQ(0, cache->stored) << "an answer from the cache is not stored again";

    // Without bit 4 or 8 the request is not made conditional, and what comes back
    // is stored for the number of seconds asked.
    cache->policy = 1;
    auto plain = request(server.url("/c"));
    plain->setSecondsToCache(30);
    plain->startSynchronous();
    EXPECT_FALSE(server.requests().back().hasHeader("If-None-Match"));
    EXPECT_EQ("network", plain->responseString().value_or(""));
    EXPECT_EQ(1, cache->stored);
    EXPECT_EQ(30, cache->storedMaxAge);
}

TEST_F(CacheTest, CacheStandsInForAFailedNetworkOnlyWhenAllowed) {
    uint16_t closed = 0;
    {
        HttpTestServer gone([](const ReceivedRequest&) { return Reply{}; });
        closed = gone.port();
    }
    std::string url = "http://127.0.0.1:" + std::to_string(closed) + "/d";
    cache->canUse = [](TXHTTPRequest& r) { return r.complete(); };  // only after trying
    cache->policy = 64;
    auto r = request(url);
    r->startSynchronous();
    expectCachedAnswer(*r);

    cache->policy = 1;
    auto strict = request(url);
    strict->startSynchronous();
    ASSERT_TRUE(strict->error());
    EXPECT_EQ(1, strict->error()->code());
}

TEST(CacheDates, Rfc1123DatesWithAndWithoutWeekdayAndSeconds) {
    EXPECT_EQ(784111777.0, TXHTTPRequest::dateFromRFC1123String("Sun, 06 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(784111777.0, TXHTTPRequest::dateFromRFC1123String("06 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(784111740.0, TXHTTPRequest::dateFromRFC1123String("Sun, 06 Nov 1994 08:49 GMT"));
    EXPECT_EQ(784111777.0, TXHTTPRequest::dateFromRFC1123String("Sun, 06 Nov 1994 09:49:37 +0100"));
    for (const char* bad : {"", "yesterday", "Sun, 32 Nov 1994 08:49:37 GMT",
                            "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Nov 1994 25:00:00 GMT",
                            "Sun, 06 Xyz 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT"}) {
        EXPECT_FALSE(TXHTTPRequest::dateFromRFC1123String(bad)) << bad;
    }
}

TEST_F(CacheTest, ExpiryComesFromMaxAgeThenExpires) {
    HttpTestServer server([](const ReceivedRequest& r) {
        std::string h = r.target == "/maxage"    ? "Cache-Control: public, Max-Age = 60\r\n"
                        : r.target == "/expires" ? "Expires: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                                                 : "";
        return Reply{HttpTestServer::response(200, h, "x")};
    });
    auto fetch = [&](const std::string& path) {
        auto r = TXHTTPRequest::requestWithURL(*base::Url::parse(server.url(path)));
        r->startSynchronous();
        return r;
    };
    auto clock = base::RunLoop::current().clock();
    auto maxAge = fetch("/maxage");
    double before = clock->now();
    auto expiry = TXHTTPRequest::expiryDateForRequest(*maxAge, 0);
    ASSERT_TRUE(expiry);
    EXPECT_GE(*expiry, before + 60);
    EXPECT_LE(*expiry, clock->now() + 60);
    auto given = TXHTTPRequest::expiryDateForRequest(*maxAge, 5);
    EXPECT_LE(*given, clock->now() + 5) << "a given age wins over the header";
    EXPECT_EQ(784111777.0, TXHTTPRequest::expiryDateForRequest(*fetch("/expires"), 0));
    EXPECT_FALSE(TXHTTPRequest::expiryDateForRequest(*fetch("/none"), 0));
}

// ---- the HEAD companion -------------------------------------------------------------

TEST_F(CacheTest, HeadCompanionOfTwentyBytesMeansAnEmptyGzipBody) {
    HttpTestServer server([](const ReceivedRequest& r) {
        std::string length = r.target == "/twenty" ? "20" : "21";
        return Reply{"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + length +
                     "\r\n\r\n"};
    });
    for (std::string path : {"/twenty", "/twentyone"}) {
        SCOPED_TRACE(path);
        auto progress = std::make_shared<txtest::RecordingDelegate>();
        auto main = TXHTTPRequest::requestWithURL(*base::Url::parse(server.url(path)));
        main->setDownloadProgressDelegate(progress);
        main->setDelegate(delegate);
        main->addRequestHeader("X-Main", "copied");
        auto head = main->HEADRequest();
        head->startSynchronous();
        ASSERT_FALSE(head->error());
        EXPECT_EQ("HEAD", server.requests().back().method);
        EXPECT_EQ("copied", server.requests().back().header("X-Main"));
        ASSERT_TRUE(pumpUntil([&] { return progress->downloadSize != 0; }, 5));
        if (path == "/twenty") {
            EXPECT_FALSE(main->showAccurateProgress());
            EXPECT_EQ(1, progress->downloadSize);
            EXPECT_EQ(0u, main->contentLength());
        } else {
            EXPECT_TRUE(main->showAccurateProgress());
            EXPECT_EQ(21, progress->downloadSize);
            EXPECT_EQ(21u, main->contentLength());
        }
    }
    EXPECT_TRUE(delegate->events.empty()) << "a HEAD companion reports nothing of its own";
}

}  // namespace
