// The engine's own readers of header values, on the shapes servers really send
// and on the ones that once fooled C-style scanning.
#include <gtest/gtest.h>

#include "transfer/TXResponseHeaderParser.h"

using P = TXResponseHeaderParser;

TEST(ResponseHeaderParser, ContentTypeAndCharset) {
    auto quoted = P::parseContentType(" text/html ; Charset=\"UTF-8\"; q=1");
    EXPECT_EQ("text/html", quoted.mimeType);
    EXPECT_EQ("UTF-8", quoted.charset);
    EXPECT_EQ("", P::parseContentType("text/plain").charset);
    EXPECT_EQ("", P::parseContentType("charset=utf-8").charset) << "no parameter before a ';'";
    EXPECT_EQ("", P::parseContentType(std::string(P::kMaxValueLength + 1, 'a')).mimeType);
}

TEST(ResponseHeaderParser, LengthsAndKeepAliveNumbers) {
    EXPECT_EQ(10u, P::parseContentLength(" 010 "));
    for (const char* bad : {"", "0x10", "-1", "+5", "5 5", "99999999999999999999999"})
        EXPECT_FALSE(P::parseContentLength(bad)) << bad;
    auto ka = P::parseKeepAlive("Timeout=15, MAX=100");
    EXPECT_EQ(15, ka.timeout);
    EXPECT_EQ(100, ka.max);
    auto huge = P::parseKeepAlive("timeout=99999999999999999999999, max=x");
    EXPECT_FALSE(huge.timeout) << "an overflowing number is no number";
    EXPECT_FALSE(huge.max);
    EXPECT_EQ(60, P::parseMaxAge("no-cache, max-age = 60"));
    EXPECT_FALSE(P::parseMaxAge("max-age"));
    EXPECT_FALSE(P::parseMaxAge("max-age=-5"));
}
