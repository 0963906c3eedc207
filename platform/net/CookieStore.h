#pragma once
// The process-wide cookie jar: RFC 6265 storage in memory. A cookie's identity is
// its domain, path and name; storing one of the same identity replaces it, and an
// already expired one deletes it. Thread-safe.
#include <functional>
#include <mutex>
#include <vector>

#include "platform/net/Cookie.h"

namespace platform::net {

class CookieStore {
  public:
    static constexpr size_t kMaxCookies = 3000;
    static constexpr size_t kMaxCookiesPerDomain = 50;

    CookieStore();
    static CookieStore& shared();

    void setCookies(const std::vector<Cookie>& cookies);
    // The cookies to send to `url`: longest path first, then oldest first.
    std::vector<Cookie> cookiesForUrl(const Url& url) const;
    std::vector<Cookie> allCookies() const;
    void deleteCookie(const Cookie& cookie);
    void removeAll();

    // Seconds since 1970; tests replace it.
    void setClock(std::function<double()> now);
    double now() const;

  private:
    void evictIfFull(const std::string& domain);

    mutable std::mutex mutex_;
    std::vector<Cookie> cookies_;
    std::function<double()> now_;
};

}  // namespace platform::net
