#include <gtest/gtest.h>

#include <map>

#include "platform/net/PacEvaluator.h"
#include "platform/net/ProxySettings.h"

using namespace platform::net;
using Type = ProxyEntry::Type;

namespace {

ProxySettings settings(std::map<std::string, std::string> env) {
    return ProxySettings::fromEnvironment([env = std::move(env)](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    });
}

ProxyEntry first(const ProxySettings& s, const std::string& url) {
    return s.proxiesForUrl(*Url::parse(url)).at(0);
}

const Url kTarget = *Url::parse("http://www.example.com/path");

}  // namespace

TEST(NetProxySettings, PicksByScheme) {
    auto s = settings({{"http_proxy", "http://user:pw@proxy:3128"},
                       {"HTTPS_PROXY", "sproxy:8443"},
                       {"all_proxy", "socks5://socks.local"}});
    auto http = first(s, "http://a/");
    EXPECT_EQ(http.type, Type::Http);
    EXPECT_EQ(http.describe(), "proxy:3128");
    EXPECT_EQ(http.user, "user");
    EXPECT_EQ(http.password, "pw");
    EXPECT_EQ(first(s, "https://a/").describe(), "sproxy:8443");

    auto socksOnly = settings({{"ALL_PROXY", "socks5h://[::1]:1081"}});
    auto socks = first(socksOnly, "https://a/");
    EXPECT_EQ(socks.type, Type::Socks);
    EXPECT_EQ(socks.describe(), "[::1]:1081");
    EXPECT_EQ(first(socksOnly, "http://a/").type, Type::Socks);
}

TEST(NetProxySettings, UpperCaseHttpProxyIsIgnored) {
    EXPECT_TRUE(first(settings({{"HTTP_PROXY", "http://evil:1"}}), "http://a/").isDirect());
    EXPECT_TRUE(first(settings({{"http_proxy", "ftp://x:1"}}), "http://a/").isDirect())
        << "a scheme we cannot speak is no proxy";
}

TEST(NetProxySettings, NoProxyMatchesHostsDomainsAndPorts) {
    auto s = settings({{"http_proxy", "http://p:1"},
                       {"no_proxy", "localhost, .internal,*.corp,example.org:8080"}});
    EXPECT_TRUE(first(s, "http://localhost/").isDirect());
    EXPECT_TRUE(first(s, "http://a.b.internal/").isDirect());
    EXPECT_TRUE(first(s, "http://internal/").isDirect());
    EXPECT_TRUE(first(s, "http://x.corp/").isDirect());
    EXPECT_FALSE(first(s, "http://notinternal/").isDirect());
    EXPECT_TRUE(first(s, "http://example.org:8080/").isDirect());
    EXPECT_FALSE(first(s, "http://example.org/").isDirect());
    EXPECT_TRUE(
        first(settings({{"http_proxy", "p:1"}, {"NO_PROXY", "*"}}), "http://any/").isDirect());
}

TEST(NetProxySettings, AutoProxyNamesTheScript) {
    auto e = first(settings({{"auto_proxy", "http://wpad/proxy.pac"}, {"http_proxy", "p:1"}}),
                   "http://a/");
    EXPECT_EQ(e.type, Type::AutoConfigurationUrl);
    EXPECT_EQ(e.pacUrl, "http://wpad/proxy.pac");
}

TEST(NetPacResult, ParsesListsAndSkipsWhatWeCannotSpeak) {
    auto list = ProxyEntry::parsePacResult("PROXY a:1; SOCKS5 b:2;HTTPS c:3; SOCKS4 d:4; DIRECT");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].type, Type::Http);
    EXPECT_EQ(list[0].describe(), "a:1");
    EXPECT_EQ(list[1].type, Type::Socks);
    EXPECT_TRUE(list[2].isDirect());
    EXPECT_TRUE(ProxyEntry::parsePacResult("PROXY nohostport").at(0).isDirect());
    EXPECT_TRUE(ProxyEntry::parsePacResult("").at(0).isDirect());
}

TEST(NetPacEvaluator, RunsTheScriptForTheAddress) {
    const std::string script = R"(function FindProxyForURL(url, host) {
        if (shExpMatch(host, "*.example.com")) return "PROXY proxy.local:3128; DIRECT";
        if (url.indexOf("https:") == 0) return "SOCKS5 127.0.0.1:1080";
        return "DIRECT"; })";
    auto list = PacEvaluator::evaluate(script, kTarget);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].describe(), "proxy.local:3128");
    EXPECT_EQ(PacEvaluator::evaluate(script, *Url::parse("https://other/")).at(0).type,
              Type::Socks);
    EXPECT_TRUE(PacEvaluator::evaluate(script, *Url::parse("http://other/")).at(0).isDirect());
}

TEST(NetPacEvaluator, FailuresMeanDirect) {
    EXPECT_TRUE(PacEvaluator::evaluate("this is not javascript {", kTarget).at(0).isDirect());
    EXPECT_TRUE(PacEvaluator::evaluate("function FindProxyForURL(u, h) { throw 1; }", kTarget)
                    .at(0)
                    .isDirect());
    EXPECT_TRUE(PacEvaluator::evaluate(std::string(PacEvaluator::kMaxScriptBytes + 1, ' '), kTarget)
                    .at(0)
                    .isDirect());
}

TEST(NetPacEvaluator, AScriptThatNeverEndsIsCutOff) {
    auto list =
        PacEvaluator::evaluate("function FindProxyForURL(u, h) { while (true) {} }", kTarget, 0.5);
    EXPECT_TRUE(list.at(0).isDirect());
    // The next evaluation is not held up by the killed one.
    auto next =
        PacEvaluator::evaluate("function FindProxyForURL(u, h) { return 'PROXY x:1'; }", kTarget);
    EXPECT_EQ(next.at(0).describe(), "x:1");
}
