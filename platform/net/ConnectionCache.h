#pragma once
// Idle kept-alive connections, keyed by the engine's connection number together
// with the scheme, host, port and proxy they lead to, so a tunnel or a TLS session
// is never handed to a request for another target. Process-wide and thread-safe.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/net/Connection.h"

namespace platform::net {

struct ConnectionKey {
    uint64_t connectionId = 0;
    std::string scheme;
    std::string host;
    uint16_t port = 0;
    std::string proxy;  // "DIRECT", "http host:port" or "socks host:port"
    friend bool operator==(const ConnectionKey&, const ConnectionKey&) = default;
};

class ConnectionCache {
  public:
    static constexpr size_t kMaxIdle = 64;

    static ConnectionCache& shared();

    // Parks an idle connection. `owner` names the stream that parked it: closing
    // that stream closes the connection unless another stream took it meanwhile.
    void put(const ConnectionKey& key, std::unique_ptr<Connection> connection, uint64_t owner);
    // A live idle connection for the key, or null; dead ones are dropped on the way.
    std::unique_ptr<Connection> take(const ConnectionKey& key);
    void closeOwnedBy(uint64_t owner);
    void closeAll();
    size_t idleCount() const;

  private:
    struct Entry {
        ConnectionKey key;
        std::unique_ptr<Connection> connection;
        uint64_t owner;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> idle_;
};

}  // namespace platform::net
