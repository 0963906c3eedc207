#pragma once
// s3rver (pinned in tests/peers, run by node) on loopback with one bucket, addressed
// the way S3 addresses its own host names ("<bucket>.s3.localhost"), its store in a
// folder of its own, and the storage configuration pointed at it.
//
// s3rver cannot check signatures made with a Date header, so it runs with
// --allow-mismatched-signatures; the signature bytes are proved against botocore
// by the stand-in tests.
#include <cstdint>
#include <string>

#include "tests/helpers/Peer.h"
#include "tests/helpers/TempDir.h"

namespace testsupport {

class S3rver {
  public:
    // s3rver's built-in account: its access key and its secret both.
    static constexpr const char* kKey = "S3RVER";

    // The s3rver program, or empty when it or node is not installed.
    static std::string binary();
    // Starts s3rver with `bucket` and sets QUORVANE_STORAGE_HOST and _SCHEME to it.
    bool start(const std::string& bucket);
    uint16_t port() const { return port_; }
    const std::string& failure() const { return peer_.failure(); }

  private:
    TempDir dir_;
    Peer peer_;
    uint16_t port_ = 0;
};

}  // namespace testsupport
