#include <gtest/gtest.h>

#include "platform/net/Cookie.h"
#include "platform/net/CookieStore.h"
#include "platform/net/HttpDate.h"

using namespace platform::net;

namespace {

constexpr double kNow = 1'700'000'000;

Url url(const std::string& text) {
    return *Url::parse(text);
}

std::vector<std::string> names(const std::vector<Cookie>& cookies) {
    std::vector<std::string> out;
    for (const auto& c : cookies) out.push_back(c.name + "=" + c.value);
    return out;
}

struct Jar {
    CookieStore store;
    double now = kNow;
    Jar() {
        store.setClock([this] { return now; });
    }
    void receive(const std::string& from, const std::string& header) {
        if (auto c = Cookie::parse(header, url(from), now))
            store.setCookies({*c});
    }
    std::vector<std::string> sendTo(const std::string& to) {
        return names(store.cookiesForUrl(url(to)));
    }
};

}  // namespace

TEST(NetHttpDate, ParsesEveryServerFormAndWritesRfc1123) {
    EXPECT_EQ(HttpDate::parse("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777.0);
    EXPECT_EQ(HttpDate::parse("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777.0);
    EXPECT_EQ(HttpDate::parse("Sun Nov  6 08:49:37 1994"), 784111777.0);
    EXPECT_EQ(HttpDate::parse("Wed, 01 Jan 2031 00:00:00 GMT"), 1924992000.0);
    for (const char* bad :
         {"", "yesterday", "Sun, 31 Feb 2021 00:00:00 GMT", "Sun, 06 Nov 1994 25:00:00 GMT",
          "06 Nov 1994", "Sun, 06 Nov 1500 08:49:37 GMT"}) {
        EXPECT_FALSE(HttpDate::parse(bad)) << bad;
    }
    EXPECT_EQ(HttpDate::format(784111777.0), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(HttpDate::format(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(HttpDate::parse(HttpDate::format(1924992000.0)), 1924992000.0);
}

TEST(NetCookie, ParsesAttributesWithDefaults) {
    auto c = Cookie::parse(
        " sid = abc=def ; Path=/app; Secure; HttpOnly; Max-Age=60; "
        "Expires=Sun, 06 Nov 1994 08:49:37 GMT",
        url("https://www.example.com/app/page"), kNow);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->name, "sid");
    EXPECT_EQ(c->value, "abc=def");
    EXPECT_EQ(c->domain, "www.example.com");
    EXPECT_TRUE(c->hostOnly);
    EXPECT_EQ(c->path, "/app");
    EXPECT_TRUE(c->secure && c->httpOnly);
    EXPECT_EQ(c->expires, kNow + 60) << "Max-Age wins over Expires";

    auto d = Cookie::parse("a=b; Domain=.Example.COM; Path=relative",
                           url("http://x.example.com/d/e/f"), kNow);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->domain, "example.com");
    EXPECT_FALSE(d->hostOnly);
    EXPECT_EQ(d->path, "/d/e") << "a path that is not absolute falls back to the default";
    EXPECT_FALSE(d->expires);
}

TEST(NetCookie, RefusesForeignDomainsAndBadInput) {
    EXPECT_FALSE(Cookie::parse("a=b; Domain=other.com", url("http://example.com/"), kNow));
    EXPECT_FALSE(Cookie::parse("a=b; Domain=com", url("http://example.com/"), kNow));
    EXPECT_FALSE(Cookie::parse("a=b; Domain=0.1", url("http://127.0.0.1/"), kNow));
    EXPECT_TRUE(Cookie::parse("a=b; Domain=127.0.0.1", url("http://127.0.0.1/"), kNow));
    EXPECT_FALSE(Cookie::parse("novalue", url("http://h/"), kNow));
    EXPECT_FALSE(Cookie::parse("=x", url("http://h/"), kNow));
    EXPECT_FALSE(Cookie::parse("a=b\x01", url("http://h/"), kNow));
    EXPECT_FALSE(Cookie::parse("a=" + std::string(5000, 'x'), url("http://h/"), kNow));
    EXPECT_FALSE(Cookie::parse("a=b; Secure", url("http://h/"), kNow))
        << "a plain-text origin may not set a secure cookie";
}

TEST(NetCookieStore, SendsByDomainPathSecurityAndOrder) {
    Jar jar;
    jar.receive("https://www.example.com/", "host=1");
    jar.receive("https://www.example.com/", "wide=2; Domain=example.com");
    jar.receive("https://www.example.com/", "deep=3; Path=/a/b");
    jar.receive("https://www.example.com/", "sec=4; Secure");
    EXPECT_EQ(jar.sendTo("https://www.example.com/a/b/c"),
              (std::vector<std::string>{"deep=3", "host=1", "wide=2", "sec=4"}));
    EXPECT_EQ(jar.sendTo("http://www.example.com/a/bc"),
              (std::vector<std::string>{"host=1", "wide=2"}));
    EXPECT_EQ(jar.sendTo("http://api.example.com/"), (std::vector<std::string>{"wide=2"}));
    EXPECT_EQ(jar.sendTo("http://badexample.com/"), std::vector<std::string>{});
}

TEST(NetCookieStore, ReplacesByIdentityAndExpires) {
    Jar jar;
    jar.receive("http://h/", "a=1");
    jar.receive("http://h/", "a=2");
    jar.receive("http://h/", "a=other; Path=/x");
    EXPECT_EQ(jar.store.allCookies().size(), 2u);
    EXPECT_EQ(jar.sendTo("http://h/"), std::vector<std::string>{"a=2"});
    jar.receive("http://h/", "a=gone; Max-Age=0");
    EXPECT_EQ(jar.sendTo("http://h/"), std::vector<std::string>{});
    jar.receive("http://h/", "t=1; Max-Age=10");
    jar.now += 11;
    EXPECT_EQ(jar.sendTo("http://h/"), std::vector<std::string>{});
    jar.receive("http://h/", "old=1; Expires=Sun, 06 Nov 1994 08:49:37 GMT");
    for (const auto& c : jar.store.allCookies())
        EXPECT_NE(c.name, "old") << "stored already expired";
}

TEST(NetCookieStore, CapsCookiesPerDomain) {
    Jar jar;
    for (int i = 0; i < 60; ++i) {
        jar.receive("http://h/", "c" + std::to_string(i) + "=v");
        jar.now += 1;
    }
    auto all = jar.store.allCookies();
    EXPECT_EQ(all.size(), CookieStore::kMaxCookiesPerDomain);
    EXPECT_EQ(jar.sendTo("http://h/").front(), "c10=v") << "the oldest were evicted";
}

TEST(NetCookie, ParsesEverySetCookieFieldOfAResponse) {
    HttpHeaders h;
    h.add("Set-Cookie", "a=1; Expires=Wed, 01 Jan 2031 00:00:00 GMT");
    h.add("Set-Cookie", "b=2");
    auto all = Cookie::parseAll(h, url("http://h/"), kNow);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].expires, 1924992000.0) << "the comma inside Expires is no separator";
}

// A Domain naming the host itself makes a domain cookie, so its subdomains get it
// too; a single-label host keeps such a cookie to itself. Of several Path attributes
// the last counts, and an empty or relative one means the default path.
TEST(NetCookieStore, DomainNamingTheHostAndRepeatedPaths) {
    Jar jar;
    jar.receive("http://example.com/", "plain=1");
    jar.receive("http://example.com/", "named=2; Domain=example.com");
    jar.receive("http://example.com/", "dotted=3; Domain=.EXAMPLE.com");
    EXPECT_EQ(jar.sendTo("http://example.com/"),
              (std::vector<std::string>{"plain=1", "named=2", "dotted=3"}));
    EXPECT_EQ(jar.sendTo("http://www.example.com/"),
              (std::vector<std::string>{"named=2", "dotted=3"}));
    EXPECT_EQ(jar.sendTo("http://badexample.com/"), std::vector<std::string>{});

    jar.receive("http://localhost/", "local=4; Domain=localhost");
    EXPECT_EQ(jar.sendTo("http://localhost/"), std::vector<std::string>{"local=4"});
    EXPECT_EQ(jar.sendTo("http://sub.localhost/"), std::vector<std::string>{});

    auto pathOf = [](const std::string& header) {
        auto c = Cookie::parse(header, url("http://h/d/e/f"), kNow);
        return c ? c->path : "(refused)";
    };
    EXPECT_EQ(pathOf("a=1; Path=/one; Path=/two"), "/two");
    EXPECT_EQ(pathOf("a=1; Path=/one; Path="), "/d/e");
    EXPECT_EQ(pathOf("a=1; Path=/one; Path=x"), "/d/e");
    EXPECT_EQ(pathOf("a=1; Path=; Path=/two"), "/two");
}
