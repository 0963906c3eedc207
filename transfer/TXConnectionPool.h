#pragma once
// The process's persistent connection records. A record names one kept-alive
// connection to a scheme, host and port; its number is what the transport keys
// idle sockets by, so streams carrying the same number share a socket. A record is
// in use while it names a request, idle (with an expiry) otherwise.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/HttpReadStream.h"

class TXConnectionPool {
  public:
    struct Record {
        uint64_t id = 0;
        std::string host;
        uint16_t port = 0;  // 0 when the address names none
        std::string scheme;
        // How the connection's TLS session was checked (trust, client identity): a
        // socket set up under one setting never serves a request that asks for
        // another, such as a verifying request after a non-verifying one.
        std::string security;
        std::optional<uint64_t> request;  // the request using it; none while idle
        std::shared_ptr<platform::net::HttpReadStream> stream;
        double expires = 0;  // monotonic seconds
    };

    static TXConnectionPool& shared();

    // Closes every idle record whose expiry is `now` or past.
    void expire(double now);
    // Keeps `current` when it still fits the address and is free, else the last idle
    // matching record, else a new one. The record's previous stream comes back in
    // `oldStream` so the caller can close it after opening the new one.
    std::shared_ptr<Record> choose(std::shared_ptr<Record> current, const std::string& scheme,
                                   const std::string& host, uint16_t port,
                                   const std::string& security, uint64_t requestId, double now,
                                   std::shared_ptr<platform::net::HttpReadStream>& oldStream);
    void release(const std::shared_ptr<Record>& record, double expires);
    void remove(const std::shared_ptr<Record>& record);
    uint64_t nextRequestId();
    size_t size() const;
    void closeAll();

    // Streams scheduled on a run loop right now, for isNetworkInUse().
    void streamScheduled(bool on);
    int runningRequestCount() const;

  private:
    mutable std::recursive_mutex mutex_;
    std::vector<std::shared_ptr<Record>> records_;
    uint64_t nextConnectionNumber_ = 0;
    uint64_t nextRequestId_ = 0;
    int running_ = 0;
};
