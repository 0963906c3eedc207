#pragma once
// A response cache that requests consult before they go to the network and fill
// after they have read a response. Called on the request's thread.
#include <optional>
#include <string>

#include "base/Url.h"
#include "base/Value.h"

class TXHTTPRequest;

namespace platform::net {
class HttpHeaders;
}

class TXCacheDelegate {
  public:
    virtual ~TXCacheDelegate() = default;

    virtual int defaultCachePolicy() const = 0;
    virtual bool canUseCachedDataForRequest(TXHTTPRequest& request) = 0;
    virtual std::optional<platform::net::HttpHeaders> cachedResponseHeadersForURL(
        const base::Url& url) = 0;
    virtual std::optional<std::string> pathToCachedResponseDataForURL(const base::Url& url) = 0;
    virtual std::optional<base::Data> cachedResponseDataForURL(const base::Url& url) = 0;
    virtual void storeResponseForRequest(TXHTTPRequest& request, double maxAge) = 0;
    virtual void updateExpiryForRequest(TXHTTPRequest& request, double maxAge) = 0;
    // Forgets what was stored for the session only (storage policy 0).
    virtual void clearCachedResponsesForStoragePolicy(int) {}
};
