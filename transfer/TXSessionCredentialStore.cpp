#include "transfer/TXSessionCredentialStore.h"

#include <algorithm>

namespace {

bool sameCredentials(const platform::net::HttpCredentials& a,
                     const platform::net::HttpCredentials& b) {
    return a.user == b.user && a.password == b.password && a.domain == b.domain;
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
            e.port == entry.port && e.scheme == entry.scheme) {
            e = entry;
            return;
        }
    }
    entries_.push_back(entry);
}

void TXSessionCredentialStore::remove(const platform::net::HttpCredentials& credentials) {
    std::lock_guard guard(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return sameCredentials(e.credentials, credentials);
    });
    if (it != entries_.end())
        entries_.erase(it);
}

std::optional<TXSessionCredentialStore::Entry> TXSessionCredentialStore::find(
    const std::string& url, const std::string& scheme, const std::string& host, uint16_t port,
    const std::string& realm, const std::optional<platform::net::HttpCredentials>& own) const {
    std::lock_guard guard(mutex_);
    auto acceptable = [&](const Entry& e) {
        if (!realm.empty() && !e.realm.empty() && e.realm != realm)
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
