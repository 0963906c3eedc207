#include "tests/helpers/S3rver.h"

#include <unistd.h>

#include <cstdlib>

namespace testsupport {

std::string S3rver::binary() {
    const char* source = std::getenv("QV_SOURCE_DIR");
    const std::string path =
        std::string(source != nullptr ? source : ".") + "/tests/peers/node_modules/.bin/s3rver";
    if (::access(path.c_str(), X_OK) != 0 || Peer::findBinary("node").empty()) {
        return {};
    }
    return path;
}

bool S3rver::start(const std::string& bucket) {
    port_ = Peer::freePort();
    // The service endpoint "localhost" makes s3rver read "<bucket>.s3.localhost" as a
    // bucket address.
    if (!peer_.start({binary(), "--directory", dir_.makeFolder("store"), "--address", "127.0.0.1",
                      "--port", std::to_string(port_), "--silent", "--allow-mismatched-signatures",
                      "--service-endpoint", "localhost", "--configure-bucket", bucket},
                     dir_.path(), port_, 30)) {
        return false;
    }
    ::setenv("QUORVANE_STORAGE_HOST", ("s3.localhost:" + std::to_string(port_)).c_str(), 1);
    ::setenv("QUORVANE_STORAGE_SCHEME", "http", 1);
    return true;
}

}  // namespace testsupport
