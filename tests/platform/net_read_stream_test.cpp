// The read stream against a scripted loopback server: exact bytes on the wire,
// framing, connection reuse and the failures the engine must tell apart.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include "platform/net/ConnectionCache.h"
#include "platform/net/NetError.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/Peer.h"
#include "tests/platform/NetTestSupport.h"

using namespace platform::net;
using nettest::ScriptedServer;

namespace {

class NetReadStream : public testsupport::MainThreadTest {
  protected:
    void TearDown() override {
        ConnectionCache::shared().closeAll();
        MainThreadTest::TearDown();
    }
    static std::shared_ptr<HttpReadStream> stream(const std::string& method, const std::string& url,
                                                  std::shared_ptr<BodyStream> body = nullptr,
                                                  HttpReadStream::Options o = {}) {
        HttpRequestMessage m(method, *Url::parse(url));
        return HttpReadStream::create(std::move(m), std::move(body), std::move(o));
    }
    static HttpReadStream::Options persistent(uint64_t id) {
        HttpReadStream::Options o;
        o.persistent = true;
        o.connectionId = id;
        return o;
    }
};

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

}  // namespace

TEST_F(NetReadStream, SendsExactlyTheHeadItWasGivenAndReadsTheBody) {
    std::string seen;
    ScriptedServer server([&](int fd, int) {
        seen = ScriptedServer::readHead(fd);
        ScriptedServer::send(fd,
                             "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n");
        ScriptedServer::send(fd, "4\r\ndefg\r\n0\r\n\r\n");
    });
    auto s = stream("GET", server.url("/a?b=c"));
    auto out = nettest::run(s);
    ASSERT_TRUE(out.ended) << (out.error ? out.error->describe() : "");
    EXPECT_EQ(out.body, "abcdefg");
    EXPECT_EQ(seen, "GET /a?b=c HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                        "\r\n\r\n");
}

TEST_F(NetReadStream, UploadsTheBodyAndCountsIt) {
    std::string body(300 * 1024, 'x');
    std::string received;
    ScriptedServer server([&](int fd, int) {
        ScriptedServer::readHead(fd);
        received = ScriptedServer::readExactly(fd, body.size());
        ScriptedServer::send(fd, kOk);
    });
    HttpRequestMessage m("PUT", *Url::parse(server.url("/up")));
    m.setHeader("Content-Length", std::to_string(body.size()));
    auto out =
        nettest::run(HttpReadStream::create(std::move(m), std::make_shared<DataBodyStream>(body)));
    ASSERT_TRUE(out.ended);
    EXPECT_EQ(received.size(), body.size());
    EXPECT_EQ(out.bodyBytesWritten, body.size());
}

TEST_F(NetReadStream, RefusesBodiesThatWouldCorruptTheMessage) {
    ScriptedServer server([&](int fd, int) { ScriptedServer::readHead(fd); });
    auto noLength = stream("POST", server.url(), std::make_shared<DataBodyStream>("abc"));
    EXPECT_FALSE(nettest::run(noLength).ended);
    EXPECT_EQ(noLength->error()->code(), kHttpBodyMismatch);

    HttpRequestMessage m("POST", *Url::parse(server.url()));
    m.setHeader("Content-Length", "10");
    auto shortBody = HttpReadStream::create(std::move(m), std::make_shared<DataBodyStream>("abc"));
    auto out = nettest::run(shortBody);
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->code(), kHttpBodyMismatch);

    HttpRequestMessage bad("GET", *Url::parse(server.url()));
    bad.setHeader("X-Evil", "a\r\nInjected: yes");
    auto refused = HttpReadStream::create(std::move(bad));
    EXPECT_FALSE(refused->open());
    EXPECT_EQ(refused->error()->domain(), kHttpErrorDomain);
}

TEST_F(NetReadStream, ReusesAKeptAliveConnectionOnlyForTheSameRecordAndTarget) {
    ScriptedServer server([&](int fd, int) {
        while (!ScriptedServer::readHead(fd).empty()) ScriptedServer::send(fd, kOk);
    });
    auto first = stream("GET", server.url("/1"), nullptr, persistent(7));
    auto a = nettest::run(first);
    ASSERT_TRUE(a.ended);
    EXPECT_FALSE(a.reused);
    EXPECT_EQ(ConnectionCache::shared().idleCount(), 1u);

    auto otherRecord = stream("GET", server.url("/2"), nullptr, persistent(8));
    EXPECT_FALSE(nettest::run(otherRecord).reused);

    auto second = stream("GET", server.url("/3"), nullptr, persistent(7));
    auto b = nettest::run(second);
    ASSERT_TRUE(b.ended);
    EXPECT_TRUE(b.reused);
    first->close();  // the engine closes the old stream after the new one opened
    EXPECT_EQ(server.connections(), 2);
    auto third = stream("GET", server.url("/4"), nullptr, persistent(7));
    EXPECT_TRUE(nettest::run(third).reused) << "closing the older stream left the socket alone";
}

TEST_F(NetReadStream, DoesNotKeepConnectionsTheServerWillClose) {
    ScriptedServer server([&](int fd, int index) {
        ScriptedServer::readHead(fd);
        if (index == 0)
            ScriptedServer::send(
                fd, "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok");
        if (index == 1)
            ScriptedServer::send(fd, "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
        if (index == 2)
            ScriptedServer::send(fd, "HTTP/1.1 200 OK\r\n\r\nclose-delimited");
    });
    for (int i = 0; i < 3; ++i) {
        auto s = stream("GET", server.url(), nullptr, persistent(1));
        auto out = nettest::run(s);
        ASSERT_TRUE(out.ended) << i;
        EXPECT_EQ(ConnectionCache::shared().idleCount(), 0u) << i;
    }
}

TEST_F(NetReadStream, AStaleReusedConnectionIsReportedAsLost) {
    ScriptedServer server([&](int fd, int index) {
        ScriptedServer::readHead(fd);
        ScriptedServer::send(fd, kOk);
        if (index == 0) {
            // Keep-alive promised, then the server drops the idle connection
            // right after the next request arrives.
            ScriptedServer::readHead(fd);
        }
    });
    auto first = stream("GET", server.url(), nullptr, persistent(3));
    ASSERT_TRUE(nettest::run(first).ended);
    auto second = stream("GET", server.url(), nullptr, persistent(3));
    auto out = nettest::run(second);
    ASSERT_TRUE(out.error);
    EXPECT_TRUE(isStaleConnectionError(*out.error)) << out.error->describe();

    // The same silence on a fresh connection is a plain truncation, not "stale".
    ScriptedServer mute([&](int fd, int) { ScriptedServer::readHead(fd); });
    auto fresh = nettest::get(mute.url());
    ASSERT_TRUE(fresh.error);
    EXPECT_FALSE(isStaleConnectionError(*fresh.error));
    EXPECT_EQ(fresh.error->code(), kHttpTruncated);
}

// A refusal before the body is read ends the upload and is the answer; a success
// before it is read whole would pass a short body off as stored, and fails.
TEST_F(NetReadStream, AnEarlyAnswerEndsTheUploadButNeverAsSuccess) {
    for (std::string answer : {"401 Unauthorized", "200 OK"}) {
        SCOPED_TRACE(answer);
        ScriptedServer server([&](int fd, int) {
            ScriptedServer::readHead(fd);
            ScriptedServer::send(fd, "HTTP/1.1 " + answer + "\r\nContent-Length: 4\r\n\r\nauth");
            shutdown(fd, SHUT_WR);
            ScriptedServer::readExactly(fd, 64 * 1024);
        });
        HttpRequestMessage m("PUT", *Url::parse(server.url()));
        std::string big(8 * 1024 * 1024, 'z');
        m.setHeader("Content-Length", std::to_string(big.size()));
        auto out = nettest::run(
            HttpReadStream::create(std::move(m), std::make_shared<DataBodyStream>(big)));
        EXPECT_LT(out.bodyBytesWritten, big.size());
        if (answer.starts_with("200")) {
            ASSERT_TRUE(out.error);
            EXPECT_FALSE(out.ended);
            EXPECT_EQ(out.error->domain(), kHttpErrorDomain);
            EXPECT_EQ(out.error->code(), kHttpBodyMismatch);
            continue;
        }
        ASSERT_TRUE(out.ended) << (out.error ? out.error->describe() : "");
        EXPECT_EQ(out.status(), 401);
        EXPECT_EQ(out.body, "auth");
    }
}

TEST_F(NetReadStream, ReportsBrokenResponsesAndRefusedConnections) {
    ScriptedServer server([&](int fd, int) {
        ScriptedServer::readHead(fd);
        ScriptedServer::send(fd,
                             "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab");
    });
    auto bad = nettest::get(server.url());
    ASSERT_TRUE(bad.error);
    EXPECT_EQ(bad.error->domain(), kHttpErrorDomain);

    auto refused =
        nettest::get("http://127.0.0.1:" + std::to_string(testsupport::Peer::freePort()) + "/");
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->domain(), kPosixErrorDomain);
    EXPECT_EQ(refused.error->code(), ECONNREFUSED);

    auto unknown = nettest::get("http://no-such-host.invalid/");
    ASSERT_TRUE(unknown.error);
    EXPECT_EQ(unknown.error->domain(), kDnsErrorDomain);
}

TEST_F(NetReadStream, UnscheduledStreamsReportNothingUntilScheduledAgain) {
    std::string big(1024 * 1024, 'q');
    ScriptedServer server([&](int fd, int) {
        ScriptedServer::readHead(fd);
        ScriptedServer::send(fd, "HTTP/1.1 200 OK\r\nContent-Length: " +
                                     std::to_string(big.size()) + "\r\n\r\n" + big);
    });
    auto s = stream("GET", server.url());
    std::string body;
    bool ended = false;
    int events = 0;
    s->setClient([&](HttpReadStream::Event e) {
        ++events;
        if (e == HttpReadStream::Event::EndEncountered)
            ended = true;
        uint8_t buf[1000];
        body.append(reinterpret_cast<char*>(buf), s->read(buf, sizeof buf));
        s->unschedule(base::kDefaultRunLoopMode);  // throttled: one read per wake-up
    });
    s->schedule(mainLoop(), base::kDefaultRunLoopMode);
    ASSERT_TRUE(s->open());
    ASSERT_TRUE(pumpUntil([&] { return events == 1; }));
    EXPECT_FALSE(pumpUntil([&] { return events > 1; }, 0.2)) << "no events while off the loop";
    while (!ended) {
        s->schedule(mainLoop(), base::kDefaultRunLoopMode);
        int before = events;
        ASSERT_TRUE(pumpUntil([&] { return events > before; }));
    }
    EXPECT_EQ(body, big);
}

TEST_F(NetReadStream, EventsArriveOnlyInTheScheduledMode) {
    ScriptedServer server([&](int fd, int) {
        ScriptedServer::readHead(fd);
        ScriptedServer::send(fd, kOk);
    });
    auto s = stream("GET", server.url());
    bool ended = false;
    s->setClient([&](HttpReadStream::Event e) {
        uint8_t buf[16];
        s->read(buf, sizeof buf);
        if (e == HttpReadStream::Event::EndEncountered)
            ended = true;
    });
    const base::RunLoopMode mode = "TestPrivateMode";
    s->schedule(mainLoop(), mode);
    ASSERT_TRUE(s->open());
    EXPECT_FALSE(pumpUntil([&] { return ended; }, 0.3));
    EXPECT_TRUE(pumpUntil([&] { return ended; }, 10, mode));
}
