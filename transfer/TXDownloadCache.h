#pragma once
// The engine's on-disk response cache. The headers and body of successful GET
// replies are kept under a key made from the URL, in "SessionStore" (emptied
// whenever a storage path is set) or "PermanentStore" below the storage path;
// folders are owner-only (0700), files too (0600), and every file is replaced
// atomically. Without a storage path the cache stores and finds nothing.
//
// Folder faults while setting the path or clearing a store throw OWException with
// the names below; faults with single entries are ignored. One recursive lock
// guards the fields and the files: requests call in from the network thread and
// from synchronous callers' threads.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Value.h"
#include "platform/net/HttpHeaders.h"
#include "transfer/TXCacheDelegate.h"

class TXDownloadCache : public TXCacheDelegate {
  public:
    // Bits of a request's cache policy.
    enum Policy : int {
        kDoNotReadFromCache = 1,
        kDoNotWriteToCache = 2,
        kUseCacheIfCurrent = 4,
        kUseCacheAfterHeadersIfCurrent = 8,
        kUseCacheIfPresent = 16,
        kUseCacheOnly = 32,
        kUseCacheOnFailure = 64,
    };
    // Storage policies: 0 is the session store, anything else the permanent one.
    static constexpr int kSessionStorage = 0;
    static constexpr int kPermanentStorage = 1;

    static constexpr const char* kExpiresHeader = "X-TXHTTPRequest-Expires";
    static constexpr const char* kStatusCodeHeader = "X-TXHTTPRequest-Response-Status-Code";
    static constexpr const char* kSessionStoreFolder = "SessionStore";
    static constexpr const char* kPermanentStoreFolder = "PermanentStore";
    static constexpr const char* kSharedCacheFolder = "TXHTTPRequestCache";

    TXDownloadCache();
    ~TXDownloadCache() override;

    // Made on first use, stored in the user's cache folder; idle (no storage path)
    // when that folder cannot be made.
    static std::shared_ptr<TXDownloadCache> sharedCache();
    static const std::vector<std::string>& fileExtensionsToHandleAsHTML();
    // False when "Cache-Control" or "Pragma" forbid keeping the reply.
    static bool serverAllowsResponseCachingForRequest(const TXHTTPRequest& request);
    // MD5 of the URL text (one trailing "/" dropped), 32 upper-case hex digits.
    static std::string keyForURL(const base::Url& url);
    // Seconds since 1970 when the reply stops being current: now plus a positive
    // maxAge, else the reply's "max-age", else its "Expires"; none without either.
    static std::optional<double> expiryDateForRequest(const TXHTTPRequest& request, double maxAge);

    std::optional<std::string> storagePath() const;
    void setStoragePath(const std::optional<std::string>& path);
    int defaultCachePolicy() const override;
    // 0 stands for the default, 4.
    void setDefaultCachePolicy(int policy);
    bool shouldRespectCacheControlHeaders() const;
    void setShouldRespectCacheControlHeaders(bool on);

    void storeResponseForRequest(TXHTTPRequest& request, double maxAge) override;
    void updateExpiryForRequest(TXHTTPRequest& request, double maxAge) override;
    bool isCachedDataCurrentForRequest(TXHTTPRequest& request);
    bool canUseCachedDataForRequest(TXHTTPRequest& request) override;

    // The stored header list, the two entries above included (numbers as text).
    std::optional<platform::net::HttpHeaders> cachedResponseHeadersForURL(
        const base::Url& url) override;
    std::optional<base::Data> cachedResponseDataForURL(const base::Url& url) override;
    std::optional<std::string> pathToCachedResponseDataForURL(const base::Url& url) override;
    std::optional<std::string> pathToCachedResponseHeadersForURL(const base::Url& url);
    // The file in the session store, else in the permanent store, else none.
    std::optional<std::string> pathToFile(const std::string& name);
    std::optional<std::string> pathToStoreCachedResponseDataForRequest(
        const TXHTTPRequest& request);
    std::optional<std::string> pathToStoreCachedResponseHeadersForRequest(
        const TXHTTPRequest& request);

    void removeCachedDataForURL(const base::Url& url);
    void removeCachedDataForRequest(const TXHTTPRequest& request);
    void clearCachedResponsesForStoragePolicy(int storagePolicy) override;

  private:
    // What the cache reads of a request, read before the cache's lock is taken: the
    // engine calls the cache with the request's own lock held, so the cache never
    // asks a request anything while holding its lock.
    struct RequestFacts {
        std::optional<base::Url> url;
        platform::net::HttpHeaders headers;
        int status = 0;
        int policy = 0;
        int storagePolicy = 0;
        bool failed = false;
        bool complete = false;
    };
    RequestFacts factsOf(const TXHTTPRequest& request) const;
    static std::optional<double> expiryDate(const platform::net::HttpHeaders& headers,
                                            double maxAge);
    bool isCurrentLocked(const RequestFacts& facts);
    std::optional<std::string> storePath(const RequestFacts& facts, bool headers);
    std::optional<base::Dictionary> storedHeaders(const base::Url& url);
    std::optional<std::string> storeFolder(int storagePolicy) const;
    void makeFolder(const std::string& path);

    mutable std::recursive_mutex accessLock_;
    int defaultCachePolicy_ = kUseCacheIfCurrent;
    std::optional<std::string> storagePath_;
    bool respectCacheControl_ = true;
};
