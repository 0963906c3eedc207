#pragma once
// Real servers for the transport's peer tests, each configured in the test's own
// folder on free loopback ports: nginx (plain, TLS, TLS with client certificates),
// squid (a proxy with Basic, Digest or NTLM proxy authentication), microsocks
// (SOCKS5) and openssl s_server (TLS with a certificate for another name).
#include <string>

#include "tests/helpers/Peer.h"
#include "tests/helpers/TempDir.h"
#include "tests/helpers/TestCertificates.h"

namespace nettest {

struct Nginx {
    testsupport::Peer peer;
    uint16_t port = 0, tlsPort = 0, clientCertPort = 0;
    std::string root;  // served files
    std::string accessLog;
    // False with `error` on failure.
    bool start(const testsupport::TempDir& dir, const testsupport::TestCertificates& certs,
               std::string& error);
    std::string url(const std::string& path) const;
    std::string tlsUrl(const std::string& path, const std::string& host = "127.0.0.1") const;
};

struct Squid {
    enum class Auth { None, Basic, Digest, Ntlm };
    testsupport::Peer peer;
    uint16_t port = 0;
    bool start(const testsupport::TempDir& dir, Auth auth, std::string& error);
};

struct Microsocks {
    testsupport::Peer peer;
    uint16_t port = 0;
    bool start(const testsupport::TempDir& dir, std::string& error);
};

struct WrongHostTls {
    testsupport::Peer peer;
    uint16_t port = 0;
    bool start(const testsupport::TempDir& dir, const testsupport::TestCertificates& certs,
               std::string& error);
};

}  // namespace nettest
