// The transport against nginx: exact request heads, framing, keep-alive reuse
// seen from the server's side, TLS with a test CA, client certificates, and a
// refusal of a certificate issued for another name.
#include <gtest/gtest.h>

#include "platform/net/ConnectionCache.h"
#include "platform/net/NetError.h"
#include "platform/net/PacEvaluator.h"
#include "tests/helpers/MainThread.h"
#include "tests/platform/NetPeers.h"
#include "tests/platform/NetTestSupport.h"
#include "tests/platform/NginxTest.h"

using namespace platform::net;
using testsupport::Peer;

namespace {

class NetNginx : public nettest::NginxTest {
  protected:
    HttpReadStream::Options tls() const {
        HttpReadStream::Options o;
        o.tls.caFile = certs.caCert;
        return o;
    }
    static std::shared_ptr<HttpReadStream> stream(const std::string& method, const std::string& url,
                                                  HttpReadStream::Options o = {},
                                                  std::shared_ptr<BodyStream> body = nullptr) {
        return HttpReadStream::create(HttpRequestMessage(method, *Url::parse(url)), std::move(body),
                                      std::move(o));
    }
};

}  // namespace

TEST_F(NetNginx, TheServerSeesOnlyTheHeadersWeWrote) {
    HttpRequestMessage m("GET", *Url::parse(nginx.url("/head")));
    m.setHeader("User-Agent", "Quorvane-Test/1.0");
    m.setHeader("Accept-Encoding", "gzip");
    auto out = nettest::run(HttpReadStream::create(std::move(m)));
    ASSERT_TRUE(out.ended) << (out.error ? out.error->describe() : "");
    EXPECT_EQ(out.body, "GET /head HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(nginx.port) +
                            "\r\nUser-Agent: Quorvane-Test/1.0\r\nAccept-Encoding: gzip\r\n\r\n");
}

TEST_F(NetNginx, ReadsChunkedSlowAndErrorResponses) {
    auto chunked = nettest::get(nginx.url("/chunked"));
    ASSERT_TRUE(chunked.ended);
    EXPECT_EQ(chunked.body, "first\nsecond\n");
    EXPECT_EQ(chunked.head->headers.get("Transfer-Encoding"), "chunked");

    auto slow = nettest::get(nginx.url("/slow"));
    ASSERT_TRUE(slow.ended);
    EXPECT_EQ(slow.body, "late\n");

    auto missing = nettest::get(nginx.url("/missing"));
    ASSERT_TRUE(missing.ended) << "a 404 is a response, not a failure";
    EXPECT_EQ(missing.status(), 404);
    EXPECT_EQ(missing.body, "not here");

    auto head = nettest::run(stream("HEAD", nginx.url("/missing")));
    ASSERT_TRUE(head.ended);
    EXPECT_EQ(head.body, "");
}

TEST_F(NetNginx, GzipBodiesArePassedOnAsSent) {
    std::string text(20000, 'a');
    FILE* f = fopen((nginx.root + "/gz/big.txt").c_str(), "w");
    ASSERT_TRUE(f);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    HttpRequestMessage m("GET", *Url::parse(nginx.url("/gz/big.txt")));
    m.setHeader("Accept-Encoding", "gzip");
    auto out = nettest::run(HttpReadStream::create(std::move(m)));
    ASSERT_TRUE(out.ended);
    EXPECT_EQ(out.head->headers.get("Content-Encoding"), "gzip");
    ASSERT_GE(out.body.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(out.body[0]), 0x1f);
    EXPECT_LT(out.body.size(), text.size());
}

TEST_F(NetNginx, KeepAliveReuseIsVisibleToTheServer) {
    HttpReadStream::Options o;
    o.persistent = true;
    o.connectionId = 1;
    auto first = stream("GET", nginx.url("/conn"), o);
    auto a = nettest::run(first);
    auto second = stream("GET", nginx.url("/conn"), o);
    auto b = nettest::run(second);
    ASSERT_TRUE(a.ended && b.ended);
    std::string connection = a.body.substr(0, a.body.find(' '));
    EXPECT_EQ(a.body, connection + " 1");
    EXPECT_EQ(b.body, connection + " 2") << "same connection, second request";
    EXPECT_TRUE(b.reused);

    auto closing = nettest::run(stream("GET", nginx.url("/close"), o));
    ASSERT_TRUE(closing.ended);
    auto third = stream("GET", nginx.url("/conn"), o);
    auto c = nettest::run(third);
    EXPECT_FALSE(c.reused) << "the server said close";
    EXPECT_EQ(c.body.substr(c.body.find(' ')), " 1");

    HttpReadStream::Options other = o;
    other.connectionId = 2;
    auto fresh = nettest::run(stream("GET", nginx.url("/conn"), other));
    EXPECT_FALSE(fresh.reused) << "another record never takes this socket";
}

TEST_F(NetNginx, UploadsAndEchoesABody) {
    std::string body(2 * 1024 * 1024 + 17, 'b');
    HttpRequestMessage m("POST", *Url::parse(nginx.url("/echo-body")));
    m.setHeader("Content-Length", std::to_string(body.size()));
    auto out =
        nettest::run(HttpReadStream::create(std::move(m), std::make_shared<DataBodyStream>(body)));
    ASSERT_TRUE(out.ended) << (out.error ? out.error->describe() : "");
    EXPECT_EQ(out.body.size(), body.size());
    EXPECT_EQ(out.body, body);
    EXPECT_EQ(out.bodyBytesWritten, body.size());
}

TEST_F(NetNginx, TlsWithTheTestCaAndHostNameChecks) {
    auto ok = nettest::get(nginx.tlsUrl("/conn"), tls());
    ASSERT_TRUE(ok.ended) << (ok.error ? ok.error->describe() : "");
    auto byName = nettest::get(nginx.tlsUrl("/conn", "localhost"), tls());
    ASSERT_TRUE(byName.ended) << (byName.error ? byName.error->describe() : "");

    auto untrusted = nettest::get(nginx.tlsUrl("/conn"));  // the system store does not know our CA
    ASSERT_TRUE(untrusted.error);
    EXPECT_EQ(untrusted.error->domain(), kSslErrorDomain);
    EXPECT_EQ(untrusted.error->code(), kSslCertificateInvalid);

    HttpReadStream::Options off;
    off.tls.validatesCertificateChain = false;  // only when the engine asks
    EXPECT_TRUE(nettest::get(nginx.tlsUrl("/conn"), off).ended);
}

TEST_F(NetNginx, ClientCertificatesAreOfferedWhenGiven) {
    std::string url = "https://127.0.0.1:" + std::to_string(nginx.clientCertPort) + "/";
    auto without = nettest::get(url, tls());
    EXPECT_EQ(without.status(), 400) << "nginx answers a missing client certificate with 400";

    auto o = tls();
    std::optional<base::Error> err;
    o.tls.identity = ClientIdentity::fromPemFiles(certs.clientCert, certs.clientKey, &err);
    ASSERT_TRUE(o.tls.identity);
    auto with = nettest::get(url, o);
    ASSERT_TRUE(with.ended) << (with.error ? with.error->describe() : "");
    EXPECT_NE(with.body.find("CN=Test Client"), std::string::npos) << with.body;
}

TEST_F(NetNginx, ACertificateForAnotherNameIsRefused) {
    QV_REQUIRE_PEER_BINARY(Peer::findBinary("openssl"), "openssl");
    nettest::WrongHostTls server;
    std::string error;
    ASSERT_TRUE(server.start(dir, certs, error)) << error;
    auto out = nettest::get("https://127.0.0.1:" + std::to_string(server.port) + "/", tls());
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->domain(), kSslErrorDomain);
    EXPECT_EQ(out.error->code(), kSslCertificateInvalid);
    HttpReadStream::Options named = tls();
    named.tls.peerName = "wrong.example";
    EXPECT_TRUE(nettest::get("https://127.0.0.1:" + std::to_string(server.port) + "/", named).ended)
        << "the same certificate passes for the name it was issued to";
}

TEST_F(NetNginx, AProxyScriptFetchedFromTheServerDecidesTheProxy) {
    FILE* f = fopen((nginx.root + "/proxy.pac").c_str(), "w");
    ASSERT_TRUE(f);
    fputs(
        "function FindProxyForURL(url, host) {\n"
        "  if (dnsDomainIs(host, \".example.com\")) return \"PROXY 127.0.0.1:3128; DIRECT\";\n"
        "  return \"DIRECT\";\n}\n",
        f);
    fclose(f);
    auto pac = nettest::get(nginx.url("/proxy.pac"));
    ASSERT_TRUE(pac.ended);
    auto list = PacEvaluator::evaluate(pac.body, *Url::parse("http://www.example.com/x"));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].type, ProxyEntry::Type::Http);
    EXPECT_EQ(list[0].describe(), "127.0.0.1:3128");
    EXPECT_TRUE(
        PacEvaluator::evaluate(pac.body, *Url::parse("http://other.org/")).at(0).isDirect());

    // The asynchronous form answers on the caller's loop.
    std::vector<ProxyEntry> async;
    PacEvaluator::evaluateAsync(pac.body, *Url::parse("https://a.example.com/"), mainLoop(),
                                [&](std::vector<ProxyEntry> r) { async = std::move(r); });
    ASSERT_TRUE(pumpUntil([&] { return !async.empty(); }));
    EXPECT_EQ(async[0].describe(), "127.0.0.1:3128");
}
