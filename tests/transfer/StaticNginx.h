#pragma once
// nginx serving a folder of files on a free loopback port, for the tests of the
// request batch and the response cache: static files come with ETag and
// Last-Modified and conditional requests are answered with 304. Extra location
// blocks give some folders their own caching headers.
#include <cstdint>
#include <string>

#include "tests/helpers/Peer.h"
#include "tests/helpers/TempDir.h"

namespace txtest {

struct StaticNginx {
    testsupport::Peer peer;
    uint16_t port = 0;
    std::string root;  // the served folder
    // False with `error` naming what is missing or the server's complaint.
    bool start(const testsupport::TempDir& dir, const std::string& locations, std::string& error);
    std::string url(const std::string& path) const;
};

}  // namespace txtest
