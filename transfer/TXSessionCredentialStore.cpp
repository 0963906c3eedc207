#include "transfer/TXSessionCredentialStore.h"

#include <algorithm>

namespace {

bool sameCredentials(const platform::net::HttpCredentials& a,
                     const platform::net::HttpCredentials& b) {
    return a.user == b.user && a.password == b.password && a.domain == b.domain;
}

// A realm nobody named (a Basic entry kept after a plain success, an NTLM challenge)
// could be any.
bool realmsMatch(const std::string& a, const std::string& b) {
    return a.empty() || b.empty() || a == b;
}

}  // namespace

TXSessionCredentialStore& TXSessionCredentialStore::servers() {
    static auto* store = new TXSessionCredentialStore;
    return *store;
}

TXSessionCredentialStore& TXSessionCredentialStore::proxies() {
    static auto* store = new TXSessionCredentialStore;
    return *store;
}

void TXSessionCredentialStore::store(const Entry& entry) {
    std::lock_guard guard(mutex_);
    for (auto& e : entries_) {
        if (sameCredentials(e.credentials, entry.credentials) && e.host == entry.host &&
            e.port == entry.port && e.scheme == entry.scheme &&
            (e.realm == entry.realm || e.realm.empty())) {
            e = entry;
            return;
        }
    }
    entries_.push_back(entry);
}

void TXSessionCredentialStore::remove(const platform::net::HttpCredentials& credentials,
                                      const std::string& scheme, const std::string& host,
                                      uint16_t port, const std::string& realm) {
    std::lock_guard guard(mutex_);
    std::erase_if(entries_, [&](const Entry& e) {
        return sameCredentials(e.credentials, credentials) && e.scheme == scheme &&
               e.host == host && e.port == port && realmsMatch(e.realm, realm);
    });
}

void TXSessionCredentialStore::removeProxy(const platform::net::HttpCredentials& credentials,
                                           const std::string& host, uint16_t port) {
    std::lock_guard guard(mutex_);
    std::erase_if(entries_, [&](const Entry& e) {
        return sameCredentials(e.credentials, credentials) && e.host == host && e.port == port;
    });
}

std::optional<TXSessionCredentialStore::Entry> TXSessionCredentialStore::find(
    const std::string& url, const std::string& scheme, const std::string& host, uint16_t port,
    const std::string& realm, const std::optional<platform::net::HttpCredentials>& own) const {
    std::lock_guard guard(mutex_);
    auto acceptable = [&](const Entry& e) {
        if (!realmsMatch(e.realm, realm))
            return false;
        if (own && (own->user != e.credentials.user || own->password != e.credentials.password))
            return false;
        return true;
    };
    for (const auto& e : entries_) {
        if (e.url == url && acceptable(e))
            return e;
    }
    for (const auto& e : entries_) {
        if (e.scheme == scheme && e.host == host && e.port == port && acceptable(e))
            return e;
    }
    return std::nullopt;
}

std::optional<TXSessionCredentialStore::Entry> TXSessionCredentialStore::findProxy(
    const std::string& host, uint16_t port) const {
    std::lock_guard guard(mutex_);
    for (const auto& e : entries_) {
        if (e.host == host && e.port == port)
            return e;
    }
    return std::nullopt;
}

void TXSessionCredentialStore::clear() {
    std::lock_guard guard(mutex_);
    entries_.clear();
}

size_t TXSessionCredentialStore::size() const {
    std::lock_guard guard(mutex_);
    return entries_.size();
}
