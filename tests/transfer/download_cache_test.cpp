// The on-disk response cache with replies from a scripted loopback server: keys and
// layout, which replies are kept, freshness, the policy bits, expiry updates,
// removal and the folder faults.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "base/PropertyList.h"
#include "platform/net/HttpHeaders.h"
#include "support/OWException.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/TempDir.h"
#include "tests/transfer/HttpTestServer.h"
#include "transfer/TXDataCompressor.h"
#include "transfer/TXDownloadCache.h"
#include "transfer/TXHTTPRequest.h"

namespace {

using txtest::HttpTestServer;
using txtest::ReceivedRequest;
using Reply = HttpTestServer::Reply;
using C = TXDownloadCache;

base::Url U(const std::string& text) {
    return *base::Url::parse(text);
}

std::string text(const std::optional<base::Data>& d) {
    return d ? std::string(d->begin(), d->end()) : "<none>";
}

int modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

size_t entriesIn(const std::string& folder) {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

// Answers with the headers the query names: "?h=<index>" picks one of these.
const std::vector<std::string> kHeaderSets = {
    "Cache-Control: max-age=3600\r\nETag: \"v1\"\r\nLast-Modified: Mon, 01 Jan 2024 00:00:00 "
    "GMT\r\n",
    "Cache-Control: no-store\r\n",
    "Cache-Control: no-store, no-cache\r\n",
    "Pragma: No-Cache\r\nCache-Control: max-age=60\r\n",
    "ETag: \"v1\"\r\nLast-Modified: Mon, 01 Jan 2024 00:00:00 GMT\r\n",  // no expiry
    "Expires: Thu, 01 Jan 2037 00:00:00 GMT\r\n",
    "Cache-Control: public, max-age=3600\r\nETag: \"v2\"\r\nLast-Modified: Mon, 01 Jan 2024 "
    "00:00:00 GMT\r\n",
};

// "/doc": version 0 and 1 carry different ETags, version 2 answers 304.
std::atomic<int> gDocVersion{0};

Reply answer(const ReceivedRequest& r) {
    std::string target = r.target;
    if (target == "/doc") {
        if (gDocVersion == 2)
            return {"HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n\r\n"};
        return {HttpTestServer::response(200, kHeaderSets[gDocVersion == 0 ? 0 : 6], "doc")};
    }
    size_t q = target.find("?h=");
    std::string headers =
        q == std::string::npos ? "" : kHeaderSets.at(std::stoul(target.substr(q + 3)));
    if (target.rfind("/status/", 0) == 0) {
        return {HttpTestServer::response(std::stoi(target.substr(8, 3)), headers, "status body")};
    }
    if (target.rfind("/gz", 0) == 0) {
        std::string plain(2000, 'z');
        std::optional<base::Error> err;
        auto packed = TXDataCompressor::compressData(
            std::span(reinterpret_cast<const uint8_t*>(plain.data()), plain.size()), &err);
        return {HttpTestServer::response(200, headers + "Content-Encoding: gzip\r\n",
                                         std::string(packed->begin(), packed->end()))};
    }
    return {HttpTestServer::response(200, headers, "body of " + target)};
}

class DownloadCacheTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        cache = std::make_shared<C>();
        root = dir.file("cache");
        cache->setStoragePath(root);
    }
    void TearDown() override {
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }
    // Runs a GET through the cache and answers the finished request.
    std::shared_ptr<TXHTTPRequest> fetch(const std::string& path, int storage = 0) {
        auto r = TXHTTPRequest::requestWithURL(U(server.url(path)), cache);
        r->setCacheStoragePolicy(storage);
        r->startSynchronous();
        return r;
    }
    std::string store(int policy) const {
        return root + (policy == 0 ? "/SessionStore" : "/PermanentStore");
    }
    testsupport::TempDir dir;
    HttpTestServer server{answer};
    std::shared_ptr<C> cache;
    std::string root;
};

// ---- keys, layout and folders ----------------------------------------------------

TEST_F(DownloadCacheTest, KeysAreUpperCaseMd5OfTheUrlWithoutItsTrailingSlash) {
    EXPECT_EQ("24CD0B4ED115C522AD7EC03F310295A7", C::keyForURL(U("http://host/a")));  // md5sum
    EXPECT_EQ(C::keyForURL(U("http://host/a")), C::keyForURL(U("http://host/a/")));
    EXPECT_NE(C::keyForURL(U("http://host/a")), C::keyForURL(U("http://host/a//")));
}

TEST_F(DownloadCacheTest, StoredRepliesLandInTheirStoreOwnerOnlyWithHtmlForScripts) {
    EXPECT_EQ(0700, modeOf(root));
    EXPECT_EQ(0700, modeOf(store(0)));
    EXPECT_EQ(0700, modeOf(store(1)));
    fetch("/page.php?h=0");
    fetch("/folder/?h=0", 1);
    fetch("/image.PNG?h=0", 1);
    std::string php = C::keyForURL(U(server.url("/page.php?h=0")));
    EXPECT_EQ(0600, modeOf(store(0) + "/" + php + ".html"));
    EXPECT_EQ(0600, modeOf(store(0) + "/" + php + ".cachedheaders"));
    std::string folder = C::keyForURL(U(server.url("/folder/?h=0")));
    EXPECT_EQ(0600, modeOf(store(1) + "/" + folder + ".html"));
    std::string png = C::keyForURL(U(server.url("/image.PNG?h=0")));
    EXPECT_EQ(0600, modeOf(store(1) + "/" + png + ".PNG"));
    EXPECT_EQ(2u, entriesIn(store(0)));  // no temporary files left behind

    auto headers = base::PropertyList::readFile(store(0) + "/" + php + ".cachedheaders");
    ASSERT_TRUE(headers && headers->dictionary());
    EXPECT_EQ(200, (*headers)[C::kStatusCodeHeader].integerValue());
    double expires = (*headers)[C::kExpiresHeader].doubleValue();
    EXPECT_NEAR(base::Date::now().secondsSince1970 + 3600, expires, 60);
    EXPECT_EQ("\"v1\"", (*headers)["ETag"].stringValue());
    EXPECT_EQ("body of /page.php?h=0",
              text(cache->cachedResponseDataForURL(U(server.url("/page.php?h=0")))));
    auto asHeaders = cache->cachedResponseHeadersForURL(U(server.url("/page.php?h=0")));
    ASSERT_TRUE(asHeaders);
    EXPECT_EQ("200", asHeaders->get(C::kStatusCodeHeader).value_or(""));
}

TEST_F(DownloadCacheTest, SettingAPathEmptiesTheSessionStoreOnly) {
    fetch("/a?h=0", 0);
    fetch("/b?h=0", 1);
    EXPECT_TRUE(cache->cachedResponseDataForURL(U(server.url("/a?h=0"))));
    auto other = dir.file("other");
    cache->setStoragePath(other);
    EXPECT_EQ(0u, entriesIn(store(0)));  // the old session store went first
    EXPECT_EQ(2u, entriesIn(store(1)));
    EXPECT_FALSE(cache->cachedResponseDataForURL(U(server.url("/b?h=0"))));
    cache->setStoragePath(root);
    EXPECT_EQ("body of /b?h=0", text(cache->cachedResponseDataForURL(U(server.url("/b?h=0")))));
    cache->clearCachedResponsesForStoragePolicy(1);
    EXPECT_EQ(0u, entriesIn(store(1)));
    cache->setStoragePath(std::nullopt);
    EXPECT_FALSE(cache->pathToFile("anything"));
    cache->clearCachedResponsesForStoragePolicy(1);  // nothing to clear, no fault
}

TEST_F(DownloadCacheTest, FolderFaultsRaiseTheirNamesAndReleaseTheLock) {
    std::string blocker = dir.write("blocker", "x");
    try {
        cache->setStoragePath(blocker);
        FAIL();
    } catch (const OWException& e) {
        EXPECT_EQ("FileExistsAtCachePath", e.name());
        EXPECT_EQ("Cannot create a directory for the cache at '" + blocker +
                      "', because a file already exists",
                  e.reason());
    }
    std::string deep = dir.file("no/such/parent");
    try {
        cache->setStoragePath(deep);
        FAIL();
    } catch (const OWException& e) {
        EXPECT_EQ("FailedToCreateCacheDirectory", e.name());
        EXPECT_EQ("Failed to create a directory for the cache at '" + deep + "'", e.reason());
    }
    // Another thread can still take the lock.
    std::thread other([&] { cache->setStoragePath(root); });
    other.join();
    EXPECT_EQ(root, cache->storagePath().value_or(""));
}

// ---- what is kept -----------------------------------------------------------

TEST_F(DownloadCacheTest, CacheControlAndStatusDecideWhatIsKept) {
    for (const char* path :
         {"/no-store?h=1", "/both?h=2", "/pragma?h=3", "/status/404?h=0", "/status/500?h=0"}) {
        fetch(path);
        EXPECT_FALSE(cache->cachedResponseHeadersForURL(U(server.url(path)))) << path;
    }
    fetch("/status/301?h=0");
    EXPECT_TRUE(cache->cachedResponseHeadersForURL(U(server.url("/status/301?h=0"))));

    cache->setShouldRespectCacheControlHeaders(false);
    fetch("/no-store?h=1");
    EXPECT_TRUE(cache->cachedResponseHeadersForURL(U(server.url("/no-store?h=1"))));

    auto refused =
        TXHTTPRequest::requestWithURL(U(server.url("/policy?h=0")), cache, C::kDoNotWriteToCache);
    refused->startSynchronous();
    EXPECT_FALSE(cache->cachedResponseHeadersForURL(U(server.url("/policy?h=0"))));
}

TEST_F(DownloadCacheTest, CompressedRepliesAreKeptInflatedWithoutTheirEncoding) {
    auto r = fetch("/gz?h=0");
    ASSERT_TRUE(r->isResponseCompressed());
    auto headers = cache->cachedResponseHeadersForURL(U(server.url("/gz?h=0")));
    ASSERT_TRUE(headers);
    EXPECT_FALSE(headers->contains("Content-Encoding"));
    EXPECT_EQ(std::string(2000, 'z'),
              text(cache->cachedResponseDataForURL(U(server.url("/gz?h=0")))));
}

TEST_F(DownloadCacheTest, DownloadsToAFileAreCopiedIntoTheStore) {
    auto r = TXHTTPRequest::requestWithURL(U(server.url("/file.bin?h=0")), cache);
    std::string target = dir.file("download.bin");
    r->setDownloadDestinationPath(target);
    r->startSynchronous();
    ASSERT_FALSE(r->error());
    auto stored = cache->pathToCachedResponseDataForURL(U(server.url("/file.bin?h=0")));
    ASSERT_TRUE(stored);
    EXPECT_NE(target, *stored);
    EXPECT_EQ("body of /file.bin?h=0", testsupport::readFile(*stored));
    EXPECT_EQ("body of /file.bin?h=0", testsupport::readFile(target));
}

// ---- freshness and the policy bits ---------------------------------------------

TEST_F(DownloadCacheTest, FreshnessNeedsMatchingValidatorsAndAnUnexpiredDate) {
    gDocVersion = 0;
    auto first = fetch("/doc");
    EXPECT_TRUE(cache->isCachedDataCurrentForRequest(*first));
    // The same reply again: the validators match what was kept.
    auto again = TXHTTPRequest::requestWithURL(U(server.url("/doc")));
    again->startSynchronous();
    EXPECT_TRUE(cache->isCachedDataCurrentForRequest(*again));
    // The document changed: its new ETag is not what was kept.
    gDocVersion = 1;
    auto changed = TXHTTPRequest::requestWithURL(U(server.url("/doc")));
    changed->startSynchronous();
    EXPECT_FALSE(cache->isCachedDataCurrentForRequest(*changed));
    // A 304 confirms what was kept whatever its age or validators.
    gDocVersion = 2;
    auto confirmed = TXHTTPRequest::requestWithURL(U(server.url("/doc")));
    confirmed->startSynchronous();
    EXPECT_EQ(304, confirmed->responseStatusCode());
    EXPECT_TRUE(cache->isCachedDataCurrentForRequest(*confirmed));
    auto headers = base::PropertyList::readFile(
        *cache->pathToCachedResponseHeadersForURL(U(server.url("/doc"))));
    EXPECT_EQ("\"v1\"", (*headers)["ETag"].stringValue());  // the 304 was not stored
}

TEST_F(DownloadCacheTest, WithoutAnExpiryNothingIsCurrentWhileHeadersAreRespected) {
    auto r = fetch("/plain?h=4");
    ASSERT_TRUE(cache->cachedResponseHeadersForURL(U(server.url("/plain?h=4"))));
    EXPECT_FALSE(cache->isCachedDataCurrentForRequest(*r));
    cache->setShouldRespectCacheControlHeaders(false);
    EXPECT_TRUE(cache->isCachedDataCurrentForRequest(*r));
    cache->setShouldRespectCacheControlHeaders(true);
    // An expiry supplied afterwards makes it current.
    cache->updateExpiryForRequest(*r, 120);
    EXPECT_TRUE(cache->isCachedDataCurrentForRequest(*r));
    auto headers = cache->cachedResponseHeadersForURL(U(server.url("/plain?h=4")));
    EXPECT_NEAR(base::Date::now().secondsSince1970 + 120,
                std::stod(headers->get(C::kExpiresHeader).value_or("0")), 60);
}

TEST_F(DownloadCacheTest, ExpiryComesFromMaxAgeThenExpiresThenTheCaller) {
    auto r = fetch("/expires?h=5");
    auto at = C::expiryDateForRequest(*r, 0);
    ASSERT_TRUE(at);
    EXPECT_EQ(2114380800.0, *at);  // 2037-01-01
    EXPECT_NEAR(base::Date::now().secondsSince1970 + 10, *C::expiryDateForRequest(*r, 10), 5);
    auto none = fetch("/none");
    EXPECT_FALSE(C::expiryDateForRequest(*none, 0));
    auto both = fetch("/both?h=6");
    EXPECT_NEAR(base::Date::now().secondsSince1970 + 3600, *C::expiryDateForRequest(*both, 0), 60);
}

TEST_F(DownloadCacheTest, PolicyBitsDecideWhenStoredDataMayBeUsed) {
    std::string kept = server.url("/kept?h=4");  // stored without expiry: never current
    fetch("/kept?h=4");
    auto ask = [&](const std::string& url, int policy) {
        auto r = TXHTTPRequest::requestWithURL(U(url), cache, policy);
        return cache->canUseCachedDataForRequest(*r);
    };
    EXPECT_FALSE(ask(kept, C::kDoNotReadFromCache | C::kUseCacheOnly));
    EXPECT_TRUE(ask(server.url("/never-stored"), C::kUseCacheOnly));
    EXPECT_FALSE(ask(server.url("/never-stored"), C::kUseCacheIfPresent));
    EXPECT_TRUE(ask(kept, C::kUseCacheIfPresent));
    EXPECT_FALSE(ask(kept, C::kUseCacheIfCurrent));
    EXPECT_FALSE(ask(kept, 0));                      // the default, 4
    EXPECT_FALSE(ask(kept, C::kUseCacheOnFailure));  // not complete yet
    cache->setShouldRespectCacheControlHeaders(false);
    EXPECT_TRUE(ask(kept, C::kUseCacheIfCurrent));
    EXPECT_FALSE(ask(kept, C::kUseCacheAfterHeadersIfCurrent));  // no reply headers yet
    EXPECT_FALSE(ask(kept, C::kDoNotWriteToCache));

    auto failed = TXHTTPRequest::requestWithURL(U(kept), cache, C::kUseCacheOnFailure);
    failed->startSynchronous();
    EXPECT_TRUE(cache->canUseCachedDataForRequest(*failed));
}

TEST_F(DownloadCacheTest, DefaultPolicyZeroMeansFour) {
    EXPECT_EQ(4, cache->defaultCachePolicy());
    cache->setDefaultCachePolicy(16);
    EXPECT_EQ(16, cache->defaultCachePolicy());
    cache->setDefaultCachePolicy(0);
    EXPECT_EQ(4, cache->defaultCachePolicy());
}

// ---- removal and concurrency ---------------------------------------------------

TEST_F(DownloadCacheTest, RemovingAUrlDeletesBothFilesWhereverTheyAre) {
    fetch("/gone?h=0", 0);
    fetch("/gone?h=0", 1);
    auto r = TXHTTPRequest::requestWithURL(U(server.url("/gone?h=0")));
    cache->removeCachedDataForRequest(*r);
    EXPECT_EQ(0u, entriesIn(store(0)));
    EXPECT_EQ(0u, entriesIn(store(1)));
    cache->removeCachedDataForURL(U(server.url("/gone?h=0")));  // nothing left: no fault
}

TEST_F(DownloadCacheTest, RequestsOnManyThreadsStoreWholeEntries) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                auto r = TXHTTPRequest::requestWithURL(U(server.url("/same?h=0")), cache);
                r->startSynchronous();
                cache->isCachedDataCurrentForRequest(*r);
                if (i == 2 && t == 0)
                    cache->clearCachedResponsesForStoragePolicy(0);
            }
        });
    }
    for (auto& t : threads) t.join();
    pumpUntil([] { return false; }, 0.05);  // let the main-thread reports run
    EXPECT_EQ("body of /same?h=0",
              text(cache->cachedResponseDataForURL(U(server.url("/same?h=0")))));
    EXPECT_EQ(2u, entriesIn(store(0)));
}

}  // namespace
