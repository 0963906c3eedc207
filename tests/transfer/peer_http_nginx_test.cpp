// The request operation against nginx: what a real server receives after our
// redirects, what we make of its gzip, ranges, cookies, character sets and
// challenges, how its connections are shared, and what it stores from a PUT.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "platform/crypto/Digest.h"
#include "platform/net/CookieStore.h"
#include "platform/net/HttpHeaders.h"
#include "tests/helpers/MainThread.h"
#include "tests/transfer/EnginePeers.h"
#include "tests/transfer/RecordingDelegate.h"
#include "transfer/OWTXS3SegmentedRequest.h"
#include "transfer/TXHTTPRequest.h"
#include "transfer/TXS3ObjectRequest.h"

namespace {

using testsupport::Peer;

base::Url U(const std::string& text) {
    return *base::Url::parse(text);
}

std::string text(const base::Data& d) {
    return std::string(d.begin(), d.end());
}

std::string randomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen() & 0xff);
    return s;
}

std::string sha256(const std::string& bytes) {
    return platform::crypto::Digest::hex(
        platform::crypto::Digest::of(platform::crypto::Digest::Algorithm::SHA256, bytes));
}

// What /echo answered: the method, the header names nginx read (lower case, in
// order) and the body.
struct Echo {
    std::string method, body;
    std::vector<std::string> names;
    platform::net::HttpHeaders headers;
    static Echo of(const std::string& out) {
        Echo e;
        size_t nl = out.find('\n');
        e.method = out.substr(0, nl);
        size_t end = out.find("\r\n\r\n", nl);
        std::string head = out.substr(nl + 1, end - nl - 1);
        e.body = end == std::string::npos ? "" : out.substr(end + 4);
        size_t line = head.find("\r\n");  // skip the request line
        while (line != std::string::npos && line + 2 < head.size()) {
            size_t next = head.find("\r\n", line + 2);
            std::string field = head.substr(line + 2, next - line - 2);
            size_t colon = field.find(':');
            std::string name = field.substr(0, colon);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            e.names.push_back(name);
            std::string value = field.substr(colon + 1);
            e.headers.add(name, value.substr(value.find_first_not_of(' ')));
            line = next;
        }
        return e;
    }
};

class EngineNginxTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        QV_REQUIRE_PEER_BINARY(Peer::findBinary("nginx"), "nginx");
        QV_REQUIRE_PEER_BINARY(Peer::findBinary("openssl"), "openssl");
        QV_REQUIRE_PEER_BINARY(Peer::findBinary("htpasswd"), "htpasswd (apache2-utils)");
        std::string error;
        ASSERT_TRUE(certs.make(dir.path(), error)) << error;
        ASSERT_TRUE(nginx.start(dir, certs, error)) << error;
        TXHTTPRequest::setDefaultUserAgentString(std::string("EnginePeer 1.0 (X11; Linux 6; C)"));
        TXHTTPRequest::clearSession();
        platform::net::CookieStore::shared().removeAll();
        delegate = std::make_shared<txtest::RecordingDelegate>();
    }
    void TearDown() override {
        TXHTTPRequest::clearSession();
        platform::net::CookieStore::shared().removeAll();
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }
    std::shared_ptr<TXHTTPRequest> request(const std::string& path) {
        auto r = TXHTTPRequest::requestWithURL(U(nginx.url(path)));
        r->setDelegate(delegate);
        return r;
    }
    std::string file(const std::string& name, const std::string& contents) {
        return dir.write("nginx/www/" + name, contents);
    }
    // Waits until nginx has logged `n` lines (it logs just after it answers).
    std::vector<std::string> logLines(size_t n) {
        std::vector<std::string> lines;
        pumpUntil(
            [&] {
                lines.clear();
                std::string log = txtest::readLog(nginx.accessLog);
                size_t at = 0;
                while (at < log.size()) {
                    size_t nl = log.find('\n', at);
                    lines.push_back(log.substr(at, nl - at));
                    at = nl == std::string::npos ? log.size() : nl + 1;
                }
                return lines.size() >= n;
            },
            5);
        return lines;
    }

    testsupport::TempDir dir;
    testsupport::TestCertificates certs;
    txtest::EngineNginx nginx;
    std::shared_ptr<txtest::RecordingDelegate> delegate;
};

// ---- redirects ------------------------------------------------------------------

TEST_F(EngineNginxTest, RedirectMatrixForPostBodies) {
    for (int code : {301, 302, 303, 307}) {
        SCOPED_TRACE(code);
        auto r = request("/r" + std::to_string(code));
        r->setAllowCompressedResponse(false);
        r->addRequestHeader("Accept", "text/plain");
        r->addRequestHeader("X-Custom", "kept?");
        r->appendPostData(std::string_view("a=1&b=2"));
        r->startSynchronous();
        ASSERT_FALSE(r->error()) << r->error()->localizedDescription();
        EXPECT_EQ(200, r->responseStatusCode());
        EXPECT_EQ(1, r->redirectCount());
        EXPECT_EQ(U(nginx.url("/r" + std::to_string(code))), r->originalURL());
        Echo e = Echo::of(r->responseString().value_or(""));
        if (code == 307) {
            EXPECT_EQ("POST", e.method);
            EXPECT_EQ("a=1&b=2", e.body);
            EXPECT_EQ("kept?", e.headers.get("x-custom").value_or(""));
        } else {
            EXPECT_EQ("GET", e.method);
            EXPECT_EQ("", e.body);
            std::set<std::string> names(e.names.begin(), e.names.end());
            names.erase("host");
            names.erase("connection");
            EXPECT_EQ((std::set<std::string>{"user-agent", "accept"}), names);
            EXPECT_EQ("text/plain", e.headers.get("accept").value_or(""));
        }
    }
    // Two transfers each: started twice, finished once.
    EXPECT_EQ(8, delegate->started);
    EXPECT_EQ(4, delegate->finished);

    auto rfc = request("/r302");
    rfc->setShouldUseRFC2616RedirectBehaviour(true);
    rfc->appendPostData(std::string_view("c=3"));
    rfc->startSynchronous();
    Echo e = Echo::of(rfc->responseString().value_or(""));
    EXPECT_EQ("POST", e.method);
    EXPECT_EQ("c=3", e.body);
}

TEST_F(EngineNginxTest, FiveRedirectsAreFollowedAndASixthFailsWithCode9) {
    auto five = request("/hop2");
    five->startSynchronous();
    ASSERT_FALSE(five->error());
    EXPECT_EQ("arrived", five->responseString().value_or(""));
    EXPECT_EQ(5, five->redirectCount());

    auto six = request("/hop1");
    six->startSynchronous();
    ASSERT_TRUE(six->error());
    EXPECT_EQ(9, six->error()->code());
    EXPECT_EQ("The request failed because it redirected too many times",
              six->error()->localizedDescription());
    EXPECT_EQ(1, delegate->failed);
}

// ---- gzip, files, ranges ----------------------------------------------------------

TEST_F(EngineNginxTest, GzipOnAndOffInBothInflateModesAndToFiles) {
    std::string body;
    for (int i = 0; i < 20000; ++i) body += "line " + std::to_string(i * 7919 % 10007) + "\n";
    file("gz/big.txt", body);
    file("plain/big.txt", body);
    for (std::string path : {"/gz/big.txt", "/plain/big.txt"}) {
        for (bool wait : {true, false}) {
            for (bool toFile : {false, true}) {
                SCOPED_TRACE(path + (wait ? " waiting" : " on the fly") +
                             (toFile ? " to a file" : " in memory"));
                auto r = request(path);
                r->setShouldWaitToInflateCompressedResponses(wait);
                std::string dest = dir.file("download.txt");
                if (toFile)
                    r->setDownloadDestinationPath(dest);
                r->startSynchronous();
                ASSERT_FALSE(r->error()) << r->error()->localizedDescription();
                bool gz = path.starts_with("/gz");
                EXPECT_EQ(gz, r->isResponseCompressed());
                if (toFile) {
                    EXPECT_EQ(body, testsupport::readFile(dest));
                } else {
                    EXPECT_EQ(body, text(r->responseData().value_or(base::Data())));
                    if (gz && wait) {
                        EXPECT_LT(r->rawResponseData().size(), body.size() / 3);
                    }
                }
            }
        }
    }
    auto refused = request("/gz/big.txt");
    refused->setAllowCompressedResponse(false);
    refused->startSynchronous();
    EXPECT_FALSE(refused->isResponseCompressed()) << "no Accept-Encoding, no gzip";
    EXPECT_EQ(body, text(refused->rawResponseData()));
}

TEST_F(EngineNginxTest, ResumedDownloadAppendsAndAnIgnoredRangeStartsAfresh) {
    std::string body = randomBytes(300000, 7);
    file("plain/blob.bin", body);
    file("norange/blob.bin", body);
    for (std::string path : {"/plain/blob.bin", "/norange/blob.bin"}) {
        SCOPED_TRACE(path);
        std::string partial = dir.write("partial.bin", body.substr(0, 100000));
        std::string dest = dir.file("blob.bin");
        auto r = request(path);
        r->setAllowCompressedResponse(false);
        r->setAllowResumeForFileDownloads(true);
        r->setDownloadDestinationPath(dest);
        r->setTemporaryFileDownloadPath(partial);
        r->setDownloadProgressDelegate(delegate);
        r->startSynchronous();
        ASSERT_FALSE(r->error()) << r->error()->localizedDescription();
        bool honoured = path.starts_with("/plain");
        EXPECT_EQ(honoured ? 206 : 200, r->responseStatusCode());
        EXPECT_EQ(honoured ? 100000u : 0u, r->partialDownloadSize());
        EXPECT_EQ(sha256(body), sha256(testsupport::readFile(dest)));
        EXPECT_NE(0, ::access(partial.c_str(), F_OK)) << "the partial file was moved into place";
    }
}

// ---- cookies, statuses, character sets ---------------------------------------------

TEST_F(EngineNginxTest, CookieSetByTheServerGoesWithTheNextRequest) {
    auto set = request("/setcookie");
    set->startSynchronous();
    ASSERT_EQ(1u, set->responseCookies().size());
    EXPECT_EQ("flavour", set->responseCookies()[0].name);
    EXPECT_EQ(1u, TXHTTPRequest::sessionCookies().size());

    auto next = request("/echo");
    next->startSynchronous();
    EXPECT_EQ("flavour=oat", Echo::of(next->responseString().value_or("")).headers.get("cookie"));

    auto without = request("/echo");
    without->setUseCookiePersistence(false);
    without->startSynchronous();
    EXPECT_FALSE(Echo::of(without->responseString().value_or("")).headers.contains("cookie"));
}

TEST_F(EngineNginxTest, NotFoundFinishesNormally) {
    auto r = request("/missing");
    r->startSynchronous();
    EXPECT_FALSE(r->error());
    EXPECT_EQ(404, r->responseStatusCode());
    EXPECT_EQ("not here", r->responseString().value_or(""));
    EXPECT_EQ(1, delegate->finished);
    EXPECT_EQ(0, delegate->failed);
}

TEST_F(EngineNginxTest, CharacterSetsComeFromTheContentType) {
    file("cs/utf8/t.txt", "h\xc3\xa9llo");
    file("cs/koi8/t.txt", "\xd0\xd2\xc9\xd7\xc5\xd4");  // "привет" in KOI8-R
    file("cs/none/t.txt", "caf\xe9");
    struct Case {
        const char *path, *charset, *decoded;
    } cases[] = {{"/cs/utf8/t.txt", "utf-8", "héllo"},
                 {"/cs/koi8/t.txt", "koi8-r", "привет"},
                 {"/cs/none/t.txt", "ISO-8859-1", "café"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto r = request(c.path);
        r->startSynchronous();
        EXPECT_EQ(c.charset, r->responseEncoding());
        EXPECT_EQ(c.decoded, r->responseString().value_or("<none>"));
    }
}

// ---- authentication ------------------------------------------------------------------

TEST_F(EngineNginxTest, BasicChallengeIsAnsweredAndTheSessionServesTheNextRequest) {
    auto first = request("/private/a");
    first->setUsername("alice");
    first->setPassword("secret");
    first->startSynchronous();
    ASSERT_FALSE(first->error()) << first->error()->localizedDescription();
    EXPECT_EQ("hello alice\n", first->responseString().value_or(""));

    auto second = request("/private/b");
    second->startSynchronous();
    ASSERT_FALSE(second->error());
    EXPECT_EQ("hello alice\n", second->responseString().value_or(""));

    auto lines = logLines(3);
    ASSERT_EQ(3u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(" 401 /private/a "));
    EXPECT_NE(std::string::npos, lines[1].find(" 200 /private/a \"alice\""));
    EXPECT_NE(std::string::npos, lines[2].find(" 200 /private/b \"alice\""))
        << "the second request presented the session's credentials at once";
}

TEST_F(EngineNginxTest, PreemptiveBasicNeedsNoChallengeAndWrongPasswordsFailWithCode3) {
    auto r = request("/private/x");
    r->setUsername("alice");
    r->setPassword("secret");
    r->setAuthenticationScheme("Basic");
    r->startSynchronous();
    EXPECT_EQ(200, r->responseStatusCode());
    auto lines = logLines(1);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(" 200 /private/x "));

    TXHTTPRequest::clearSession();
    auto wrong = request("/private/y");
    wrong->setUsername("alice");
    wrong->setPassword("guess");
    wrong->startSynchronous();
    ASSERT_TRUE(wrong->error());
    EXPECT_EQ(3, wrong->error()->code());
    EXPECT_EQ("Authentication needed", wrong->error()->localizedDescription());
}

// ---- connections --------------------------------------------------------------------

TEST_F(EngineNginxTest, GetsShareAConnectionAndAOneRequestServerGetsANewOneEachTime) {
    auto a = request("/conn");
    a->startSynchronous();
    auto b = request("/conn");
    b->startSynchronous();
    std::string ca = a->responseString().value_or(""), cb = b->responseString().value_or("");
    EXPECT_EQ(ca.substr(0, ca.find(' ')) + " 2", cb) << "the server saw one connection";
    EXPECT_EQ(a->connectionID(), b->connectionID());

    std::set<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        auto once = request("/once");
        once->startSynchronous();
        ASSERT_FALSE(once->error()) << once->error()->localizedDescription();
        EXPECT_FALSE(once->connectionCanBeReused());
        seen.insert(once->responseString().value_or(""));
    }
    EXPECT_EQ(3u, seen.size()) << "each request after a closing answer went on a new connection";
}

// ---- PUT bodies ---------------------------------------------------------------------

TEST_F(EngineNginxTest, PutBodiesAreStoredByteForByte) {
    std::string body = randomBytes(1500000, 11);
    std::string source = dir.write("upload.bin", body);
    for (bool fromDisk : {false, true}) {
        SCOPED_TRACE(fromDisk ? "streamed from disk" : "from memory");
        std::string name = fromDisk ? "/dav/disk.bin" : "/dav/memory.bin";
        auto r = request(name);
        r->setRequestMethod("PUT");
        r->setShouldStreamPostDataFromDisk(fromDisk);
        r->setUploadProgressDelegate(delegate);
        ASSERT_TRUE(r->appendPostDataFromFile(source));
        r->startSynchronous();
        ASSERT_FALSE(r->error()) << r->error()->localizedDescription();
        EXPECT_EQ(201, r->responseStatusCode());
        EXPECT_EQ(sha256(body), sha256(testsupport::readFile(nginx.root + name)));
    }
}

// ---- TLS ----------------------------------------------------------------------------

TEST_F(EngineNginxTest, TlsWithTheTestAuthorityAndRefusedWithoutIt) {
    file("plain/tls.txt", "over tls");
    auto r = TXHTTPRequest::requestWithURL(U(nginx.tlsUrl("/plain/tls.txt")));
    r->setCertificateAuthorityFile(certs.caCert);
    r->startSynchronous();
    ASSERT_FALSE(r->error()) << r->error()->localizedDescription();
    EXPECT_EQ("over tls", r->responseString().value_or(""));

    auto untrusted = TXHTTPRequest::requestWithURL(U(nginx.tlsUrl("/plain/tls.txt")));
    untrusted->startSynchronous();
    ASSERT_TRUE(untrusted->error());
    EXPECT_EQ(1, untrusted->error()->code());
}

// nginx starts reading a second after the request head, by which time the body
// fills both socket buffers and, under TLS 1.3, the server's session tickets wait
// on the socket. An S3 PUT and a part of a multipart upload arrive whole over both
// versions.
TEST_F(EngineNginxTest, S3UploadsOverTlsReachALateReaderWhole) {
    std::string body = randomBytes(12u << 20, 12);
    std::string source = dir.write("upload.mov", body);
    TXS3Request::setSharedAccessKey("AKIDNGINX00000000000");
    TXS3Request::setSharedSecretAccessKey("bmdpbnggaWdub3JlcyBzaWduYXR1cmVz");
    for (uint16_t port : {nginx.tls12Port, nginx.tls13Port}) {
        SCOPED_TRACE(port == nginx.tls12Port ? "TLS 1.2" : "TLS 1.3");
        ::setenv("QUORVANE_STORAGE_HOST", ("localhost:" + std::to_string(port)).c_str(), 1);
        ::setenv("QUORVANE_STORAGE_SCHEME", "https", 1);
        auto put = TXS3ObjectRequest::PUTRequestForFile(source, "bucket", "whole.mov");
        auto part = OWTXS3SegmentedRequest::PUTRequestForSegment(source, {1000, 9u << 20}, "bucket",
                                                                 "part.mov");
        part->setSubResource("partNumber=1&uploadId=up");
        ASSERT_TRUE(part->readFileData());
        for (const auto& [request, expected] :
             {std::pair<std::shared_ptr<TXS3ObjectRequest>, std::string>{put, body},
              {part, body.substr(1000, 9u << 20)}}) {
            request->setCertificateAuthorityFile(certs.caCert);
            request->startSynchronous();
            ASSERT_FALSE(request->error()) << request->error()->localizedDescription();
            ASSERT_EQ(200, request->responseStatusCode());
            std::string kept = request->responseString().value_or("");
            EXPECT_EQ(sha256(expected), sha256(testsupport::readFile(kept))) << kept;
        }
    }
}

}  // namespace
