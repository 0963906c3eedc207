#include <gtest/gtest.h>

#include <string>

#include "platform/net/HttpResponseParser.h"
#include "platform/net/NetError.h"

using platform::net::HttpResponseParser;
using Framing = HttpResponseParser::Framing;

namespace {

struct Parsed {
    HttpResponseParser parser;
    std::string body;
    size_t used = 0;
    explicit Parsed(bool bodyless = false) : parser(bodyless) {}
};

// Feeds the text in pieces of `step` bytes, the way a socket delivers it.
void feed(Parsed& p, const std::string& text, size_t step = 0) {
    if (step == 0)
        step = text.size();
    base::Data body;
    for (size_t at = 0; at < text.size() && !p.parser.complete() && !p.parser.failed();) {
        size_t n = std::min(step, text.size() - at);
        size_t used = p.parser.consume(reinterpret_cast<const uint8_t*>(text.data() + at), n, body);
        p.used += used;
        at += used;
        if (used == 0)
            break;
    }
    p.body.append(body.begin(), body.end());
}

}  // namespace

TEST(NetResponseParser, ContentLengthBodyInAnySplit) {
    const std::string text =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 11\r\n\r\nhello world";
    for (size_t step : {1, 2, 7, 1000}) {
        Parsed p;
        feed(p, text + "EXTRA", step);
        ASSERT_TRUE(p.parser.complete()) << step;
        EXPECT_EQ(p.body, "hello world");
        EXPECT_EQ(p.used, text.size()) << "bytes after the message are left alone";
        EXPECT_EQ(p.parser.head().statusCode, 200);
        EXPECT_EQ(p.parser.head().statusLine, "HTTP/1.1 200 OK");
        EXPECT_EQ(p.parser.head().headers.get("content-type"), "text/plain");
        EXPECT_EQ(p.parser.framing(), Framing::Length);
    }
}

TEST(NetResponseParser, ChunkedWithExtensionsAndTrailers) {
    const std::string text =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        "5;name=val\r\nhello\r\n1\r\n \r\nA\r\n0123456789\r\n0\r\nX-Checksum: abc\r\n\r\n";
    for (size_t step : {1, 3, 1000}) {
        Parsed p;
        feed(p, text, step);
        ASSERT_TRUE(p.parser.complete()) << step;
        EXPECT_EQ(p.body, "hello 0123456789");
        EXPECT_EQ(p.parser.trailers().get("x-checksum"), "abc");
    }
}

TEST(NetResponseParser, CloseDelimitedBodyEndsAtFinish) {
    Parsed p;
    feed(p, "HTTP/1.0 200 OK\r\n\r\npart one ", 4);
    feed(p, "part two");
    EXPECT_FALSE(p.parser.complete());
    EXPECT_EQ(p.parser.framing(), Framing::UntilClose);
    p.parser.finish();
    EXPECT_TRUE(p.parser.complete());
    EXPECT_EQ(p.body, "part one part two");
}

TEST(NetResponseParser, TruncatedBodiesAreErrorsNotSuccess) {
    for (const char* text : {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort",
                             "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel",
                             "HTTP/1.1 200 OK\r\nContent-Le"}) {
        Parsed p;
        feed(p, text);
        p.parser.finish();
        EXPECT_FALSE(p.parser.complete()) << text;
        ASSERT_TRUE(p.parser.error()) << text;
        EXPECT_EQ(p.parser.error()->code(), platform::net::kHttpTruncated);
    }
}

TEST(NetResponseParser, NoBodyForHeadAnd204And304) {
    Parsed head(true);
    feed(head, "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n");
    EXPECT_TRUE(head.parser.complete());
    for (const char* text : {"HTTP/1.1 204 No Content\r\nContent-Length: 4\r\n\r\n",
                             "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n"}) {
        Parsed p;
        feed(p, text);
        EXPECT_TRUE(p.parser.complete()) << text;
        EXPECT_EQ(p.parser.framing(), Framing::None);
    }
}

TEST(NetResponseParser, InterimResponsesAreSkipped) {
    Parsed p;
    feed(p,
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: y\r\n\r\n"
         "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok",
         5);
    ASSERT_TRUE(p.parser.complete());
    EXPECT_EQ(p.parser.head().statusCode, 201);
    EXPECT_FALSE(p.parser.head().headers.contains("X"));
    EXPECT_EQ(p.body, "ok");

    Parsed endless;
    std::string many;
    for (int i = 0; i < 40; ++i) many += "HTTP/1.1 100 Continue\r\n\r\n";
    feed(endless, many);
    EXPECT_TRUE(endless.parser.failed());
}

TEST(NetResponseParser, ReasonMayBeEmptyAndRepeatedFieldsJoin) {
    Parsed p;
    feed(p, "HTTP/1.1 404\r\nVary: a\r\nvary: b\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(p.parser.complete());
    EXPECT_EQ(p.parser.head().statusCode, 404);
    EXPECT_EQ(p.parser.head().reason, "");
    EXPECT_EQ(p.parser.head().headers.get("Vary"), "a, b");
}

TEST(NetResponseParser, RefusesAmbiguousFraming) {
    for (const char* text :
         {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n",
          "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n",
          "HTTP/1.1 200 OK\r\nContent-Length: 0x10\r\n\r\n",
          "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
          "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
          "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
          "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n11111111111111111\r\n",
          "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n",
          "HTTP/1.1 200 OK\r\n folded: yes\r\n\r\n", "HTTP/1.1 200 OK\r\nBad Name: x\r\n\r\n",
          "HTTP/1.1 200 OK\r\nNoColon\r\n\r\n", "HTTP/2 200\r\n\r\n", "HTTP/1.1 2000 OK\r\n\r\n",
          "ICY 200 OK\r\n\r\n", "HTTP/1.1 101 Switching\r\n\r\n"}) {
        Parsed p;
        feed(p, text);
        EXPECT_TRUE(p.parser.failed()) << text;
        EXPECT_FALSE(p.parser.complete()) << text;
    }
    Parsed same;
    feed(same, "HTTP/1.1 200 OK\r\nContent-Length: 3, 3\r\n\r\nabc");
    EXPECT_TRUE(same.parser.complete());
}

TEST(NetResponseParser, CapsTheHeaderBlock) {
    Parsed big;
    feed(big, "HTTP/1.1 200 OK\r\nX: " + std::string(70 * 1024, 'a') + "\r\n\r\n", 1000);
    ASSERT_TRUE(big.parser.failed());
    EXPECT_EQ(big.parser.error()->code(), platform::net::kHttpHeaderTooLarge);

    std::string many = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 201; ++i) many += "X-" + std::to_string(i) + ": v\r\n";
    Parsed p;
    feed(p, many + "\r\n");
    ASSERT_TRUE(p.parser.failed());

    std::string fits = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 199; ++i) fits += "X-" + std::to_string(i) + ": v\r\n";
    Parsed ok;
    feed(ok, fits + "Content-Length: 0\r\n\r\n");
    EXPECT_TRUE(ok.parser.complete());
}

TEST(NetResponseParser, KeepAliveFollowsVersionAndConnection) {
    auto keep = [](const std::string& text) {
        Parsed p;
        feed(p, text);
        return p.parser.head().allowsKeepAlive();
    };
    EXPECT_TRUE(keep("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_FALSE(keep("HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_FALSE(keep("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_TRUE(keep("HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n"));
}
