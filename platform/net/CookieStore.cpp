#include "platform/net/CookieStore.h"

#include <algorithm>
#include <chrono>

namespace platform::net {

CookieStore::CookieStore()
    : now_([] {
          using namespace std::chrono;
          return duration<double>(system_clock::now().time_since_epoch()).count();
      }) {}

CookieStore& CookieStore::shared() {
    // Never destroyed: the network thread may still use it while the process exits.
    static CookieStore* store = new CookieStore;
    return *store;
}

void CookieStore::setClock(std::function<double()> now) {
    std::lock_guard lock(mutex_);
    now_ = std::move(now);
}

double CookieStore::now() const {
    std::lock_guard lock(mutex_);
    return now_();
}

void CookieStore::setCookies(const std::vector<Cookie>& cookies) {
    std::lock_guard lock(mutex_);
    double t = now_();
    for (const Cookie& c : cookies) {
        auto old = std::find_if(cookies_.begin(), cookies_.end(),
                                [&](const Cookie& o) { return o.sameIdentity(c); });
        if (c.isExpired(t)) {
            if (old != cookies_.end())
                cookies_.erase(old);
            continue;
        }
        if (old != cookies_.end()) {
            double created = old->created;
            *old = c;
            old->created = created;  // a replacement keeps its place among equals
            continue;
        }
        evictIfFull(c.domain);
        cookies_.push_back(c);
    }
}

void CookieStore::evictIfFull(const std::string& domain) {
    double t = now_();
    std::erase_if(cookies_, [&](const Cookie& c) { return c.isExpired(t); });
    auto oldestOf = [&](auto pred) {
        auto oldest = cookies_.end();
        for (auto it = cookies_.begin(); it != cookies_.end(); ++it) {
            if (pred(*it) && (oldest == cookies_.end() || it->created < oldest->created))
                oldest = it;
        }
        if (oldest != cookies_.end())
            cookies_.erase(oldest);
    };
    auto sameDomain = [&](const Cookie& c) { return c.domain == domain; };
    if (std::count_if(cookies_.begin(), cookies_.end(), sameDomain) >= long(kMaxCookiesPerDomain)) {
        oldestOf(sameDomain);
    }
    if (cookies_.size() >= kMaxCookies)
        oldestOf([](const Cookie&) { return true; });
}

std::vector<Cookie> CookieStore::cookiesForUrl(const Url& url) const {
    std::lock_guard lock(mutex_);
    double t = now_();
    std::vector<Cookie> out;
    for (const Cookie& c : cookies_) {
        if (c.matches(url, t))
            out.push_back(c);
    }
    std::stable_sort(out.begin(), out.end(), [](const Cookie& a, const Cookie& b) {
        if (a.path.size() != b.path.size())
            return a.path.size() > b.path.size();
        return a.created < b.created;
    });
    return out;
}

std::vector<Cookie> CookieStore::allCookies() const {
    std::lock_guard lock(mutex_);
    return cookies_;
}

void CookieStore::deleteCookie(const Cookie& cookie) {
    std::lock_guard lock(mutex_);
    std::erase_if(cookies_, [&](const Cookie& c) { return c.sameIdentity(cookie); });
}

void CookieStore::removeAll() {
    std::lock_guard lock(mutex_);
    cookies_.clear();
}

}  // namespace platform::net
