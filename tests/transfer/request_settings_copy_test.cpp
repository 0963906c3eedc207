// What a copy of a request and its HEAD companion take over: every setting set away
// from its default travels with a copy, the companion takes only how to reach the
// server, and neither takes blocks, queue or cache.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/net/Cookie.h"
#include "platform/net/HttpHeaders.h"
#include "transfer/TXHTTPRequest.h"
#include "transfer/TXS3ObjectRequest.h"

namespace {

struct Receiver : TXHTTPRequestDelegate, TXProgressDelegate {};

struct Setting {
    const char* name;
    bool headTakesIt;
    std::function<void(TXHTTPRequest&)> set;
    std::function<bool(const TXHTTPRequest&)> isSet;
};

std::vector<Setting> settings(const std::shared_ptr<Receiver>& receiver) {
    using R = TXHTTPRequest;
    auto url = *base::Url::parse("http://proxy.test/proxy.pac");
    platform::net::Cookie cookie;
    cookie.name = "k";
    cookie.value = "v";
    return {
        {"cookies", true, [=](R& r) { r.setRequestCookies({cookie}); },
         [](const R& r) { return r.requestCookies().size() == 1; }},
        {"cookie persistence", true, [](R& r) { r.setUseCookiePersistence(false); },
         [](const R& r) { return !r.useCookiePersistence(); }},
        {"keychain persistence", true, [](R& r) { r.setUseKeychainPersistence(true); },
         [](const R& r) { return r.useKeychainPersistence(); }},
        {"session persistence", true, [](R& r) { r.setUseSessionPersistence(false); },
         [](const R& r) { return !r.useSessionPersistence(); }},
        {"compressed response", true, [](R& r) { r.setAllowCompressedResponse(false); },
         [](const R& r) { return !r.allowCompressedResponse(); }},
        {"username", true, [](R& r) { r.setUsername("u"); },
         [](const R& r) { return r.username() == "u"; }},
        {"password", true, [](R& r) { r.setPassword("p"); },
         [](const R& r) { return r.password() == "p"; }},
        {"domain", true, [](R& r) { r.setDomain("d"); },
         [](const R& r) { return r.domain() == "d"; }},
        {"scheme", true, [](R& r) { r.setAuthenticationScheme("Digest"); },
         [](const R& r) { return r.authenticationScheme() == "Digest"; }},
        {"proxy host", true, [](R& r) { r.setProxyHost("ph"); },
         [](const R& r) { return r.proxyHost() == "ph"; }},
        {"proxy port", true, [](R& r) { r.setProxyPort(3128); },
         [](const R& r) { return r.proxyPort() == 3128; }},
        {"proxy type", true, [](R& r) { r.setProxyType(R::ProxyType::Socks); },
         [](const R& r) { return r.proxyType() == R::ProxyType::Socks; }},
        {"proxy username", true, [](R& r) { r.setProxyUsername("pu"); },
         [](const R& r) { return r.proxyUsername() == "pu"; }},
        {"proxy password", true, [](R& r) { r.setProxyPassword("pp"); },
         [](const R& r) { return r.proxyPassword() == "pp"; }},
        {"proxy domain", true, [](R& r) { r.setProxyDomain("pd"); },
         [](const R& r) { return r.proxyDomain() == "pd"; }},
        {"dialog", true, [](R& r) { r.setShouldPresentAuthenticationDialog(true); },
         [](const R& r) { return r.shouldPresentAuthenticationDialog(); }},
        {"proxy dialog", true, [](R& r) { r.setShouldPresentProxyAuthenticationDialog(false); },
         [](const R& r) { return !r.shouldPresentProxyAuthenticationDialog(); }},
        {"time-out", true, [](R& r) { r.setTimeOutSeconds(77); },
         [](const R& r) { return r.timeOutSeconds() == 77; }},
        {"HTTP/1.0", true, [](R& r) { r.setUseHTTPVersionOne(true); },
         [](const R& r) { return r.useHTTPVersionOne(); }},
        {"verification", true, [](R& r) { r.setValidatesSecureCertificate(false); },
         [](const R& r) { return !r.validatesSecureCertificate(); }},
        {"CA file", true, [](R& r) { r.setCertificateAuthorityFile("/ca.pem"); },
         [](const R& r) { return r.certificateAuthorityFile() == "/ca.pem"; }},
        {"PAC", true, [=](R& r) { r.setPACurl(url); },
         [=](const R& r) { return r.PACurl() == url; }},
        {"credentials first", true,
         [](R& r) { r.setShouldPresentCredentialsBeforeChallenge(false); },
         [](const R& r) { return !r.shouldPresentCredentialsBeforeChallenge(); }},
        {"retries", true, [](R& r) { r.setNumberOfTimesToRetryOnTimeout(3); },
         [](const R& r) { return r.numberOfTimesToRetryOnTimeout() == 3; }},
        {"RFC 2616", true, [](R& r) { r.setShouldUseRFC2616RedirectBehaviour(true); },
         [](const R& r) { return r.shouldUseRFC2616RedirectBehaviour(); }},
        {"persistent", true, [](R& r) { r.setShouldAttemptPersistentConnection(false); },
         [](const R& r) { return !r.shouldAttemptPersistentConnection(); }},
        {"persistent time-out", true, [](R& r) { r.setPersistentConnectionTimeoutSeconds(9); },
         [](const R& r) { return r.persistentConnectionTimeoutSeconds() == 9; }},
        {"headers", true, [](R& r) { r.addRequestHeader("X-A", "1"); },
         [](const R& r) { return r.requestHeaders().get("X-A") == "1"; }},

        {"method", false, [](R& r) { r.setRequestMethod("PUT"); },
         [](const R& r) { return r.requestMethod() == "PUT"; }},
        {"body", false, [](R& r) { r.appendPostData(std::string_view("abc")); },
         [](const R& r) { return r.postBody().size() == 3; }},
        {"body file", false, [](R& r) { r.setPostBodyFilePath("/body"); },
         [](const R& r) { return r.postBodyFilePath() == "/body"; }},
        {"stream from disk", false, [](R& r) { r.setShouldStreamPostDataFromDisk(true); },
         [](const R& r) { return r.shouldStreamPostDataFromDisk(); }},
        {"compress body", false, [](R& r) { r.setShouldCompressRequestBody(true); },
         [](const R& r) { return r.shouldCompressRequestBody(); }},
        {"length", false, [](R& r) { r.setPostLength(5); },
         [](const R& r) { return r.postLength() == 5; }},
        {"download", false, [](R& r) { r.setDownloadDestinationPath("/d"); },
         [](const R& r) { return r.downloadDestinationPath() == "/d"; }},
        {"temporary download", false, [](R& r) { r.setTemporaryFileDownloadPath("/t"); },
         [](const R& r) { return r.temporaryFileDownloadPath() == "/t"; }},
        {"resume", false, [](R& r) { r.setAllowResumeForFileDownloads(true); },
         [](const R& r) { return r.allowResumeForFileDownloads(); }},
        {"accurate progress", false, [](R& r) { r.setShowAccurateProgress(false); },
         [](const R& r) { return !r.showAccurateProgress(); }},
        {"reset download progress", false, [](R& r) { r.setShouldResetDownloadProgress(false); },
         [](const R& r) { return !r.shouldResetDownloadProgress(); }},
        {"reset upload progress", false, [](R& r) { r.setShouldResetUploadProgress(false); },
         [](const R& r) { return !r.shouldResetUploadProgress(); }},
        {"encoding", false, [](R& r) { r.setDefaultResponseEncoding("UTF-8"); },
         [](const R& r) { return r.defaultResponseEncoding() == "UTF-8"; }},
        {"redirects", false, [](R& r) { r.setShouldRedirect(false); },
         [](const R& r) { return !r.shouldRedirect(); }},
        {"user agent", false, [](R& r) { r.setUserAgentString("ua"); },
         [](const R& r) { return r.userAgentString() == "ua"; }},
        {"delegate", false, [=](R& r) { r.setDelegate(receiver); },
         [=](const R& r) { return r.delegate() == receiver; }},
        {"upload progress", false, [=](R& r) { r.setUploadProgressDelegate(receiver); },
         [=](const R& r) { return r.uploadProgressDelegate() == receiver; }},
        {"download progress", false, [=](R& r) { r.setDownloadProgressDelegate(receiver); },
         [=](const R& r) { return r.downloadProgressDelegate() == receiver; }},
        {"user info", false,
         [](R& r) {
             r.setUserInfo(base::Dictionary{{"a", 1}});
         },
         [](const R& r) { return r.userInfo().size() == 1; }},
        {"tag", false, [](R& r) { r.setTag(42); }, [](const R& r) { return r.tag() == 42; }},
    };
}

TEST(RequestSettingsCopy, ACopyTakesEverySettingAndTheCompanionHowToReachTheServer) {
    auto receiver = std::make_shared<Receiver>();
    auto list = settings(receiver);
    auto request = TXHTTPRequest::requestWithURL(*base::Url::parse("http://a.test/x"));
    auto fresh = TXHTTPRequest::requestWithURL(*base::Url::parse("http://a.test/x"));
    for (const auto& s : list) {
        ASSERT_FALSE(s.isSet(*fresh)) << s.name << " is set by default";
        s.set(*request);
        ASSERT_TRUE(s.isSet(*request)) << s.name;
    }
    request->setQueue(receiver);
    request->setCompletionBlock([] {});
    request->setDownloadCache(nullptr);

    auto copy = request->copy();
    auto head = request->HEADRequest();
    for (const auto& s : list) {
        EXPECT_TRUE(s.isSet(*copy)) << "a copy lost " << s.name;
        if (s.headTakesIt) {
            EXPECT_TRUE(s.isSet(*head)) << "the companion lost " << s.name;
        } else if (std::string(s.name) != "method") {
            EXPECT_FALSE(s.isSet(*head)) << "the companion took " << s.name;
        }
    }
    EXPECT_EQ(head->requestMethod(), "HEAD");
    EXPECT_EQ(head->mainRequest(), request);
    EXPECT_EQ(copy->mainRequest(), nullptr);
    EXPECT_EQ(copy->queue(), nullptr);
}

TEST(RequestSettingsCopy, AStorageObjectCopyKeepsItsClassKeysAndObjectFields) {
    auto request = TXS3ObjectRequest::COPYRequestFromBucket("src", "a/b", "dst", "c d");
    request->setAccessKey("AK");
    request->setSecretAccessKey("SK");
    request->setMimeType("video/mp4");
    request->setStorageClass("STANDARD_IA");
    request->setTimeOutSeconds(33);
    auto copy = std::dynamic_pointer_cast<TXS3ObjectRequest>(request->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->accessKey(), "AK");
    EXPECT_EQ(copy->secretAccessKey(), "SK");
    EXPECT_EQ(copy->bucket(), "dst");
    EXPECT_EQ(copy->key(), "c d");
    EXPECT_EQ(copy->sourceBucket(), "src");
    EXPECT_EQ(copy->sourceKey(), "a/b");
    EXPECT_EQ(copy->mimeType(), "video/mp4");
    EXPECT_EQ(copy->storageClass(), "STANDARD_IA");
    EXPECT_EQ(copy->requestMethod(), "PUT");
    EXPECT_EQ(copy->timeOutSeconds(), 33);
}

}  // namespace
