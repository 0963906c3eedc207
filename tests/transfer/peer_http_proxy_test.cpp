// The request operation through squid: a 407 answered with Basic proxy
// credentials, a CONNECT tunnel to a TLS server, and proxies chosen by a proxy
// auto-configuration script fetched from nginx or read from a file.
#include <gtest/gtest.h>

#include "platform/net/HttpHeaders.h"
#include "tests/helpers/MainThread.h"
#include "tests/transfer/EnginePeers.h"
#include "tests/transfer/RecordingDelegate.h"
#include "transfer/TXHTTPRequest.h"

namespace {

using testsupport::Peer;

base::Url U(const std::string& text) {
    return *base::Url::parse(text);
}

class EngineProxyTest : public testsupport::MainThreadTest {
  protected:
    void start(bool basicAuth) {
        QV_REQUIRE_PEER_BINARY(Peer::findBinary("squid"), "squid");
        QV_REQUIRE_PEER_BINARY(Peer::findBinary("nginx"), "nginx");
        QV_REQUIRE_PEER_BINARY(Peer::findBinary("openssl"), "openssl");
        QV_REQUIRE_PEER_BINARY(Peer::findBinary("htpasswd"), "htpasswd (apache2-utils)");
        std::string error;
        ASSERT_TRUE(certs.make(dir.path(), error)) << error;
        ASSERT_TRUE(nginx.start(dir, certs, error)) << error;
        ASSERT_TRUE(squid.start(dir, basicAuth, error)) << error;
        TXHTTPRequest::clearSession();
        delegate = std::make_shared<txtest::RecordingDelegate>();
    }
    void TearDown() override {
        TXHTTPRequest::clearSession();
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }
    std::shared_ptr<TXHTTPRequest> viaSquid(const std::string& url) {
        auto r = TXHTTPRequest::requestWithURL(U(url));
        r->setProxyHost("127.0.0.1");
        r->setProxyPort(squid.port);
        r->setDelegate(delegate);
        return r;
    }
    // The forwarded request as nginx read it names squid in "Via".
    static bool cameThroughSquid(const TXHTTPRequest& r) {
        std::string echo = r.responseString().value_or("");
        return echo.find("\r\nVia: ") != std::string::npos &&
               echo.find("squid") != std::string::npos;
    }

    testsupport::TempDir dir;
    testsupport::TestCertificates certs;
    txtest::EngineNginx nginx;
    txtest::EngineSquid squid;
    std::shared_ptr<txtest::RecordingDelegate> delegate;
};

TEST_F(EngineProxyTest, ProxyChallengeIsAnsweredWithBasicAndRemembered) {
    ASSERT_NO_FATAL_FAILURE(start(true));
    if (IsSkipped())
        return;
    auto r = viaSquid(nginx.url("/echo"));
    r->setProxyUsername("alice");
    r->setProxyPassword("secret");
    r->startSynchronous();
    ASSERT_FALSE(r->error()) << r->error()->localizedDescription();
    EXPECT_EQ(200, r->responseStatusCode());
    EXPECT_TRUE(cameThroughSquid(*r));
    EXPECT_EQ(1, r->proxyAuthenticationRetryCount());
    EXPECT_EQ("Basic", r->proxyAuthenticationScheme());

    // The proxy session store answers for the next request at once.
    auto again = viaSquid(nginx.url("/echo"));
    again->startSynchronous();
    ASSERT_FALSE(again->error()) << again->error()->localizedDescription();
    EXPECT_EQ(200, again->responseStatusCode());
    EXPECT_EQ(0, again->proxyAuthenticationRetryCount());
}

TEST_F(EngineProxyTest, ProxyChallengeWithoutCredentialsFailsWithCode3) {
    ASSERT_NO_FATAL_FAILURE(start(true));
    if (IsSkipped())
        return;
    auto r = viaSquid(nginx.url("/echo"));
    r->startSynchronous();
    ASSERT_TRUE(r->error());
    EXPECT_EQ(3, r->error()->code());
    EXPECT_EQ(1, delegate->failed);
}

TEST_F(EngineProxyTest, TlsServerIsReachedThroughAConnectTunnel) {
    ASSERT_NO_FATAL_FAILURE(start(true));
    if (IsSkipped())
        return;
    dir.write("nginx/www/plain/tunnel.txt", "through the tunnel");
    auto r = viaSquid(nginx.tlsUrl("/plain/tunnel.txt"));
    r->setCertificateAuthorityFile(certs.caCert);
    r->setProxyUsername("alice");
    r->setProxyPassword("secret");
    r->startSynchronous();
    ASSERT_FALSE(r->error()) << r->error()->localizedDescription();
    EXPECT_EQ("through the tunnel", r->responseString().value_or(""));
    EXPECT_NE(std::string::npos, txtest::readLog(squid.accessLog).find("CONNECT 127.0.0.1:"))
        << txtest::readLog(squid.accessLog);
}

TEST_F(EngineProxyTest, ProxyScriptFromTheServerOrAFileChoosesSquid) {
    ASSERT_NO_FATAL_FAILURE(start(false));
    if (IsSkipped())
        return;
    std::string script =
        "function FindProxyForURL(url, host) {\n"
        "  if (shExpMatch(url, \"*/echo\")) return \"PROXY 127.0.0.1:" +
        std::to_string(squid.port) +
        "\";\n"
        "  return \"DIRECT\";\n}\n";
    std::string pacFile = dir.write("nginx/www/proxy.pac", script);
    for (auto pac : {U(nginx.url("/proxy.pac")), U("file://" + pacFile)}) {
        SCOPED_TRACE(pac.absoluteString());
        for (bool async : {false, true}) {
            auto proxied = TXHTTPRequest::requestWithURL(U(nginx.url("/echo")));
            proxied->setPACurl(pac);
            proxied->setDelegate(delegate);
            int before = delegate->finished;
            if (async) {
                proxied->startAsynchronous();
                ASSERT_TRUE(pumpUntil([&] { return delegate->finished > before; }, 20));
            } else {
                proxied->startSynchronous();
            }
            ASSERT_FALSE(proxied->error()) << proxied->error()->localizedDescription();
            EXPECT_TRUE(cameThroughSquid(*proxied));
            EXPECT_EQ("127.0.0.1", proxied->proxyHost());
        }
        auto direct = TXHTTPRequest::requestWithURL(U(nginx.url("/conn")));
        direct->setPACurl(pac);
        direct->startSynchronous();
        ASSERT_FALSE(direct->error());
        EXPECT_TRUE(direct->proxyHost().empty()) << "the script said DIRECT";
    }
}

TEST_F(EngineProxyTest, UnreachableProxyScriptLeavesTheRequestDirect) {
    ASSERT_NO_FATAL_FAILURE(start(false));
    if (IsSkipped())
        return;
    auto r = TXHTTPRequest::requestWithURL(U(nginx.url("/conn")));
    r->setPACurl(U(nginx.url("/no-such.pac")));
    r->startSynchronous();
    ASSERT_FALSE(r->error());
    EXPECT_EQ(200, r->responseStatusCode());
    EXPECT_TRUE(r->proxyHost().empty());
}

}  // namespace
