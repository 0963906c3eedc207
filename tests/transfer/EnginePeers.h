#pragma once
// Real servers for the engine's peer tests, configured in the test's own folder
// on free loopback ports: nginx with the echo module (redirects, gzip, ranges,
// cookies, Basic authentication, PUT storage, TLS, late body readers), squid with Basic proxy
// authentication, and apache2 with Digest authentication.
#include <string>

#include "tests/helpers/Peer.h"
#include "tests/helpers/TempDir.h"
#include "tests/helpers/TestCertificates.h"

namespace txtest {

struct EngineNginx {
    testsupport::Peer peer;
    uint16_t port = 0, tlsPort = 0;
    // TLS 1.2 only and TLS 1.3 only: any path takes a body, read one second late,
    // and answers with the path of the file nginx kept it in.
    uint16_t tls12Port = 0, tls13Port = 0;
    std::string root;       // served files; "dav/" receives PUT bodies
    std::string accessLog;  // "<connection> <requests on it> <status> <uri> <user>" per line
    // Basic authentication under /private/ accepts alice:secret.
    bool start(const testsupport::TempDir& dir, const testsupport::TestCertificates& certs,
               std::string& error);
    std::string url(const std::string& path) const;
    std::string tlsUrl(const std::string& path) const;
};

struct EngineSquid {
    testsupport::Peer peer;
    uint16_t port = 0;
    std::string accessLog;
    // With `basicAuth`, every request needs alice:secret as proxy credentials.
    bool start(const testsupport::TempDir& dir, bool basicAuth, std::string& error);
};

struct EngineApacheDigest {
    testsupport::Peer peer;
    uint16_t port = 0;
    // Digest under /digest/ accepts alice:secret in realm "engine-digest"; nonces
    // live `nonceLifetime` seconds and are then answered as stale.
    bool start(const testsupport::TempDir& dir, int nonceLifetime, std::string& error);
    std::string url(const std::string& path) const;
};

// True when the line counts appear in the access log as expected; for tests.
std::string readLog(const std::string& path);

}  // namespace txtest
