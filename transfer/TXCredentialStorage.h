#pragma once
// Credentials kept for good in the user's keychain file, one item per protection
// space: a server's scheme, host, port and realm, or a proxy's host, port and
// realm. The item's service names the space ("TXHTTPRequest https://host:443
// realm=Name", "TXHTTPRequest proxy host:3128 realm=Name"), its account is the
// user name and its generic attribute the account domain. Saving replaces what
// the space held. Thread-safe through the keychain file's own locking.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/net/HttpCredentials.h"

class TXCredentialStorage {
  public:
    // The store under the keychain file's default folder, read again at each call
    // so that a changed XDG_DATA_HOME takes effect.
    static bool save(const platform::net::HttpCredentials& credentials, const std::string& host,
                     uint16_t port, const std::string& protocol, const std::string& realm);
    static std::optional<platform::net::HttpCredentials> find(const std::string& host,
                                                              uint16_t port,
                                                              const std::string& protocol,
                                                              const std::string& realm);
    static bool remove(const std::string& host, uint16_t port, const std::string& protocol,
                       const std::string& realm);

    static bool saveProxy(const platform::net::HttpCredentials& credentials,
                          const std::string& host, uint16_t port, const std::string& realm);
    static std::optional<platform::net::HttpCredentials> findProxy(const std::string& host,
                                                                   uint16_t port,
                                                                   const std::string& realm);
    static bool removeProxy(const std::string& host, uint16_t port, const std::string& realm);

    static std::string serviceFor(const std::string& host, uint16_t port,
                                  const std::string& protocol, const std::string& realm);
    static std::string proxyServiceFor(const std::string& host, uint16_t port,
                                       const std::string& realm);
};
