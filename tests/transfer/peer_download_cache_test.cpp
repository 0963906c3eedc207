// The response cache against real servers: nginx serving files with ETag and
// Last-Modified, answering 304, with max-age and no-store folders; Python's
// http.server for a Last-Modified without an ETag.
#include <gtest/gtest.h>

#include <fstream>

#include "base/PropertyList.h"
#include "platform/net/HttpHeaders.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/Peer.h"
#include "tests/helpers/TempDir.h"
#include "tests/transfer/StaticNginx.h"
#include "transfer/TXDownloadCache.h"
#include "transfer/TXHTTPRequest.h"

namespace {

using C = TXDownloadCache;

base::Url U(const std::string& text) {
    return *base::Url::parse(text);
}

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

class CachePeerTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        cache = std::make_shared<C>();
        cache->setStoragePath(dir.file("cache"));
    }
    void TearDown() override {
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }
    // A fetch with validators of its own goes to the server: the engine would otherwise
    // answer a fresh entry from the cache and the server's 304 would never be seen.
    std::shared_ptr<TXHTTPRequest> fetch(const std::string& url,
                                         const platform::net::HttpHeaders& extra = {}) {
        const int policy = extra.fields().empty() ? 0 : C::kDoNotReadFromCache;
        auto r = TXHTTPRequest::requestWithURL(U(url), cache, policy);
        for (const auto& [name, value] : extra.fields()) r->addRequestHeader(name, value);
        r->startSynchronous();
        EXPECT_FALSE(r->error()) << url;
        return r;
    }
    std::string stored(const std::string& url, const std::string& name) {
        auto h = cache->cachedResponseHeadersForURL(U(url));
        return h ? h->get(name).value_or("") : "<not stored>";
    }
    testsupport::TempDir dir;
    std::shared_ptr<C> cache;
};

class NginxCacheTest : public CachePeerTest {
  protected:
    void SetUp() override {
        CachePeerTest::SetUp();
        QV_REQUIRE_PEER_BINARY(testsupport::Peer::findBinary("nginx"), "nginx");
        std::string error;
        ASSERT_TRUE(nginx.start(dir,
                                "  location /aged/ { expires 1h; }\n"
                                "  location /private/ { add_header Cache-Control "
                                "\"no-store, no-cache\"; }\n",
                                error))
            << error;
        dir.makeFolder("nginx/www/aged");
        dir.makeFolder("nginx/www/private");
        writeFile(nginx.root + "/aged/page.html", "aged page");
        writeFile(nginx.root + "/private/secret.txt", "secret");
        writeFile(nginx.root + "/plain.txt", "plain");
    }
    txtest::StaticNginx nginx;
};

TEST_F(NginxCacheTest, AgedFileIsKeptCurrentAndConfirmedBy304) {
    std::string url = nginx.url("/aged/page.html");
    auto first = fetch(url);
    std::string etag = stored(url, "ETag");
    ASSERT_FALSE(etag.empty());
    EXPECT_EQ(first->responseHeaders().get("Last-Modified").value_or("?"),
              stored(url, "Last-Modified"));
    EXPECT_NEAR(base::Date::now().secondsSince1970 + 3600,
                std::stod(stored(url, C::kExpiresHeader)), 60);
    EXPECT_TRUE(cache->isCachedDataCurrentForRequest(*first));

    platform::net::HttpHeaders conditional;
    conditional.add("If-None-Match", etag);
    auto confirmed = fetch(url, conditional);
    ASSERT_EQ(304, confirmed->responseStatusCode());
    EXPECT_TRUE(cache->isCachedDataCurrentForRequest(*confirmed));
    // The confirmation's own max-age renews the stored expiry.
    cache->updateExpiryForRequest(*confirmed, 0);
    EXPECT_NEAR(base::Date::now().secondsSince1970 + 3600,
                std::stod(stored(url, C::kExpiresHeader)), 60);
    auto body = cache->cachedResponseDataForURL(U(url));
    ASSERT_TRUE(body);
    EXPECT_EQ("aged page", std::string(body->begin(), body->end()));
}

TEST_F(NginxCacheTest, AChangedFileNoLongerMatchesWhatWasKept) {
    std::string url = nginx.url("/aged/page.html");
    fetch(url);
    writeFile(nginx.root + "/aged/page.html", "a longer, rewritten aged page");
    auto changed = TXHTTPRequest::requestWithURL(U(url));  // not stored again
    changed->startSynchronous();
    EXPECT_NE(changed->responseHeaders().get("ETag").value_or(""), stored(url, "ETag"));
    EXPECT_FALSE(cache->isCachedDataCurrentForRequest(*changed));
}

TEST_F(NginxCacheTest, NoStoreFolderIsKeptOnlyWhenHeadersAreIgnored) {
    std::string url = nginx.url("/private/secret.txt");
    auto r = fetch(url);
    EXPECT_EQ("no-store, no-cache", r->responseHeaders().get("Cache-Control").value_or(""));
    EXPECT_EQ("<not stored>", stored(url, "ETag"));
    cache->setShouldRespectCacheControlHeaders(false);
    fetch(url);
    EXPECT_NE("<not stored>", stored(url, "ETag"));
}

TEST_F(NginxCacheTest, FileWithoutExpiryIsKeptButNeverCurrent) {
    std::string url = nginx.url("/plain.txt");
    auto r = fetch(url);
    EXPECT_EQ("", stored(url, C::kExpiresHeader));
    EXPECT_EQ("200", stored(url, C::kStatusCodeHeader));
    EXPECT_FALSE(cache->isCachedDataCurrentForRequest(*r));
    auto withAge = TXHTTPRequest::requestWithURL(U(url), cache);
    withAge->setSecondsToCache(600);
    withAge->startSynchronous();
    EXPECT_TRUE(cache->isCachedDataCurrentForRequest(*withAge));
}

class PythonServerCacheTest : public CachePeerTest {
  protected:
    void SetUp() override {
        CachePeerTest::SetUp();
        std::string python = testsupport::Peer::findBinary("python3");
        QV_REQUIRE_PEER_BINARY(python, "python3");
        www = dir.makeFolder("www");
        writeFile(www + "/note.txt", "a note");
        port = testsupport::Peer::freePort();
        ASSERT_TRUE(server.start({python, "-m", "http.server", "--bind", "127.0.0.1",
                                  std::to_string(port), "--directory", www},
                                 www, port))
            << server.failure();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }
    testsupport::Peer server;
    uint16_t port = 0;
    std::string www;
};

TEST_F(PythonServerCacheTest, LastModifiedWithoutETagIsConfirmedOnlyBy304) {
    cache->setShouldRespectCacheControlHeaders(false);  // the server sends no expiry
    std::string u = url("/note.txt");
    auto first = fetch(u);
    EXPECT_FALSE(first->responseHeaders().contains("ETag"));
    std::string modified = stored(u, "Last-Modified");
    ASSERT_FALSE(modified.empty());
    // Both validators must match; with no ETag on either side a full reply does not
    // prove the kept copy current.
    EXPECT_FALSE(cache->isCachedDataCurrentForRequest(*first));
    platform::net::HttpHeaders conditional;
    conditional.add("If-Modified-Since", modified);
    auto confirmed = fetch(u, conditional);
    ASSERT_EQ(304, confirmed->responseStatusCode());
    EXPECT_TRUE(cache->isCachedDataCurrentForRequest(*confirmed));
}

}  // namespace
