#pragma once
// Starts the stand-in S3 server (tests/fakes/s3_server.py) on loopback with its
// own store, and points the storage configuration and shared keys at it.
#include <cstdint>
#include <string>

#include "tests/helpers/Peer.h"
#include "tests/helpers/TempDir.h"

namespace testsupport {

class S3StandIn {
  public:
    static constexpr const char* kAccessKey = "AKIDSTANDIN000000000";
    static constexpr const char* kSecretKey = "c3RhbmQtaW4gc2VjcmV0IGtleSBmb3IgdGVzdHM=";
    static constexpr const char* kBucket = "bucket";

    // Empty when /usr/bin/python3 or botocore is missing.
    static std::string interpreter();
    bool start();
    // The same, also answering over TLS with `certificate` and `key` on tlsPort(),
    // where the storage configuration then points (https).
    bool startWithTls(const std::string& certificate, const std::string& key);
    uint16_t port() const { return port_; }
    uint16_t tlsPort() const { return tlsPort_; }
    // POSTs a fault script (JSON) to the server.
    bool script(const std::string& json);
    // One counter of /__stats; -1 when unreadable.
    int64_t stat(const std::string& name);
    // The stored object, or empty.
    std::string objectBytes(const std::string& key);
    const std::string& failure() const { return peer_.failure(); }

  private:
    std::string http(const std::string& method, const std::string& path, const std::string& body);
    TempDir dir_;
    Peer peer_;
    uint16_t port_ = 0;
    uint16_t tlsPort_ = 0;
};

}  // namespace testsupport
