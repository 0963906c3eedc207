#pragma once
// Credentials that worked, kept for the life of the process so that later requests
// to the same server (or through the same proxy) present them at once. One store
// for servers, one for proxies. Thread-safe.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/HttpAuthentication.h"
#include "platform/net/HttpCredentials.h"

class TXSessionCredentialStore {
  public:
    struct Entry {
        std::shared_ptr<platform::net::HttpAuthentication> authentication;  // may be null
        platform::net::HttpCredentials credentials;
        std::string url;  // servers: the address it was used for
        std::string scheme, host;
        uint16_t port = 0;  // the effective port
        std::string authenticationScheme;
        std::string realm;
    };

    static TXSessionCredentialStore& servers();
    static TXSessionCredentialStore& proxies();

    // Replaces the entry holding the same credentials for the same scheme, host, port
    // and realm (an entry that knows its realm also replaces one that did not), else
    // appends.
    void store(const Entry& entry);
    // Servers: removes these credentials where they were kept for this scheme, host,
    // port and realm; kept for another realm they stay (an empty realm is not known
    // and matches any).
    void remove(const platform::net::HttpCredentials& credentials, const std::string& scheme,
                const std::string& host, uint16_t port, const std::string& realm);
    // Proxies: removes these credentials where they were kept for this proxy.
    void removeProxy(const platform::net::HttpCredentials& credentials, const std::string& host,
                     uint16_t port);
    // An entry for exactly `url`, else the first for the same scheme, host and port;
    // skipping entries of another realm (when `realm` is known) or with credentials
    // other than `own` (when given).
    std::optional<Entry> find(const std::string& url, const std::string& scheme,
                              const std::string& host, uint16_t port, const std::string& realm,
                              const std::optional<platform::net::HttpCredentials>& own) const;
    // The first entry for the proxy host and port.
    std::optional<Entry> findProxy(const std::string& host, uint16_t port) const;
    void clear();
    size_t size() const;

  private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};
