// Proxies for real: squid forwarding plain http and tunnelling https with
// CONNECT, answering with Basic, Digest and NTLM proxy challenges through its own
// helpers, and microsocks as a SOCKS5 proxy.
#include <gtest/gtest.h>

#include "platform/net/ConnectionCache.h"
#include "platform/net/HttpAuthentication.h"
#include "platform/net/NetError.h"
#include "tests/helpers/MainThread.h"
#include "tests/platform/NetPeers.h"
#include "tests/platform/NetTestSupport.h"
#include "tests/platform/NginxTest.h"

using namespace platform::net;
using testsupport::Peer;

namespace {

class NetProxy : public nettest::NginxTest {
  protected:
    void startSquid(nettest::Squid::Auth auth) {
        QV_REQUIRE_PEER_BINARY(Peer::findBinary("squid"), "squid");
        std::string error;
        ASSERT_TRUE(squid.start(dir, auth, error)) << error;
    }
    HttpReadStream::Options via(ProxyEntry::Type type, uint16_t port) const {
        HttpReadStream::Options o;
        o.proxy.type = type;
        o.proxy.host = "127.0.0.1";
        o.proxy.port = port;
        o.tls.caFile = certs.caCert;
        return o;
    }
    // What the engine does with a 407: make an authentication object from it,
    // apply the credentials and send the request again; NTLM needs one more leg.
    nettest::Outcome authenticated(const std::string& url, HttpReadStream::Options o,
                                   std::string* scheme) {
        // Like the engine's connection record, keep the last stream until the next
        // one has taken over its kept-alive socket.
        std::shared_ptr<HttpReadStream> previous;
        auto send = [&](const std::shared_ptr<HttpAuthentication>& auth, int round) {
            HttpRequestMessage m("GET", *Url::parse(url));
            if (auth) {
                EXPECT_TRUE(auth->apply(m, {"alice", "secret", "DOMAIN"})) << round;
            }
            auto stream = HttpReadStream::create(std::move(m), nullptr, o);
            auto out = nettest::run(stream);
            previous = stream;
            return out;
        };
        auto out = send(nullptr, 0);
        EXPECT_EQ(out.status(), 407);
        if (out.status() != 407)
            return out;
        auto auth = HttpAuthentication::create(*out.head);
        EXPECT_TRUE(auth);
        if (!auth)
            return out;
        if (scheme)
            *scheme = auth->method();
        for (int round = 1; round <= 3; ++round) {
            out = send(auth, round);
            if (out.status() != 407)
                break;
            auth->update(*out.head);
            if (!auth->isValid())
                break;
        }
        return out;
    }

    nettest::Squid squid;
};

}  // namespace

TEST_F(NetProxy, SquidForwardsPlainHttpAndTunnelsHttps) {
    startSquid(nettest::Squid::Auth::None);
    auto o = via(ProxyEntry::Type::Http, squid.port);
    auto plain = nettest::get(nginx.url("/conn"), o);
    ASSERT_TRUE(plain.ended) << (plain.error ? plain.error->describe() : "");
    EXPECT_EQ(plain.status(), 200);
    auto tunnelled = nettest::get(nginx.tlsUrl("/head"), o);
    ASSERT_TRUE(tunnelled.ended) << (tunnelled.error ? tunnelled.error->describe() : "");
    EXPECT_EQ(tunnelled.body.rfind("GET /head HTTP/1.1\r\n", 0), 0u)
        << "inside the tunnel the request is in origin form: " << tunnelled.body;
}

TEST_F(NetProxy, SquidBasicProxyAuthenticationOnPlainAndTunnel) {
    startSquid(nettest::Squid::Auth::Basic);
    std::string scheme;
    auto plain =
        authenticated(nginx.url("/conn"), via(ProxyEntry::Type::Http, squid.port), &scheme);
    EXPECT_EQ(scheme, "Basic");
    EXPECT_EQ(plain.status(), 200);
    auto tunnel =
        authenticated(nginx.tlsUrl("/head"), via(ProxyEntry::Type::Http, squid.port), nullptr);
    EXPECT_EQ(tunnel.status(), 200);
    EXPECT_EQ(tunnel.body.find("Proxy-Authorization"), std::string::npos)
        << "the proxy password went to the CONNECT only, never to the server";
}

TEST_F(NetProxy, A407OnConnectIsHandedUpAsTheResponse) {
    startSquid(nettest::Squid::Auth::Basic);
    auto out = nettest::get(nginx.tlsUrl("/conn"), via(ProxyEntry::Type::Http, squid.port));
    ASSERT_TRUE(out.ended) << (out.error ? out.error->describe() : "");
    EXPECT_EQ(out.status(), 407);
    EXPECT_TRUE(out.head->headers.contains("Proxy-Authenticate"));
}

TEST_F(NetProxy, SquidDigestProxyAuthentication) {
    startSquid(nettest::Squid::Auth::Digest);
    std::string scheme;
    auto out = authenticated(nginx.url("/conn"), via(ProxyEntry::Type::Http, squid.port), &scheme);
    EXPECT_EQ(scheme, "Digest");
    EXPECT_EQ(out.status(), 200);
    auto tunnel =
        authenticated(nginx.tlsUrl("/conn"), via(ProxyEntry::Type::Http, squid.port), nullptr);
    EXPECT_EQ(tunnel.status(), 200);
}

TEST_F(NetProxy, SquidNtlmHandshakeOnOneKeptAliveConnection) {
    startSquid(nettest::Squid::Auth::Ntlm);
    auto o = via(ProxyEntry::Type::Http, squid.port);
    o.persistent = true;  // NTLM authenticates the connection, so all legs share it
    o.connectionId = 42;
    std::string scheme;
    auto out = authenticated(nginx.url("/conn"), o, &scheme);
    EXPECT_EQ(scheme, "NTLM");
    EXPECT_EQ(out.status(), 200);
    EXPECT_TRUE(out.reused);
}

TEST_F(NetProxy, MicrosocksCarriesHttpAndHttps) {
    QV_REQUIRE_PEER_BINARY(Peer::findBinary("microsocks"), "microsocks");
    nettest::Microsocks socks;
    std::string error;
    ASSERT_TRUE(socks.start(dir, error)) << error;
    auto o = via(ProxyEntry::Type::Socks, socks.port);
    auto plain = nettest::get(nginx.url("/head"), o);
    ASSERT_TRUE(plain.ended) << (plain.error ? plain.error->describe() : "");
    EXPECT_EQ(plain.body.rfind("GET /head HTTP/1.1\r\n", 0), 0u);
    auto secure = nettest::get(nginx.tlsUrl("/conn", "localhost"), o);
    ASSERT_TRUE(secure.ended) << (secure.error ? secure.error->describe() : "");

    auto refused = nettest::get("http://127.0.0.1:" + std::to_string(Peer::freePort()) + "/", o);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code(), kHttpBadProxyReply);
}
