#pragma once
// A main-thread fixture with nginx serving plain and TLS (certificates from a test
// CA) out of the test's own folder. Kept-alive connections are closed after each
// test so that none outlives its server.
#include "platform/net/ConnectionCache.h"
#include "tests/helpers/MainThread.h"
#include "tests/platform/NetPeers.h"

namespace nettest {

class NginxTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        QV_REQUIRE_PEER_BINARY(testsupport::Peer::findBinary("nginx"), "nginx");
        QV_REQUIRE_PEER_BINARY(testsupport::Peer::findBinary("openssl"), "openssl");
        std::string error;
        ASSERT_TRUE(certs.make(dir.path(), error)) << error;
        ASSERT_TRUE(nginx.start(dir, certs, error)) << error;
    }
    void TearDown() override {
        platform::net::ConnectionCache::shared().closeAll();
        MainThreadTest::TearDown();
    }

    testsupport::TempDir dir;
    testsupport::TestCertificates certs;
    Nginx nginx;
};

}  // namespace nettest
