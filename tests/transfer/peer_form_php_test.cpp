// Form requests read back by PHP's own form parser (php -S), which nobody here
// wrote: what it puts in $_POST and $_FILES must be what the request was given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "platform/crypto/Digest.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/Peer.h"
#include "tests/helpers/TempDir.h"
#include "transfer/TXFormDataRequest.h"

namespace {

using platform::crypto::Digest;
using testsupport::Peer;

std::string md5(const std::string& bytes) {
    return Digest::hex(Digest::of(Digest::Algorithm::MD5, bytes));
}

class FormPhpTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        std::string php = Peer::findBinary("php");
        QV_REQUIRE_PEER_BINARY(php, "php-cli");
        const char* source = std::getenv("QV_SOURCE_DIR");
        std::string script = std::string(source ? source : ".") + "/tests/fakes/form_echo.php";
        port = Peer::freePort();
        std::string uploads = dir.makeFolder("uploads");
        ASSERT_TRUE(server.start(
            {php, "-d", "upload_max_filesize=16M", "-d", "post_max_size=32M", "-d",
             "upload_tmp_dir=" + uploads, "-S", "127.0.0.1:" + std::to_string(port), script},
            dir.path(), port))
            << server.failure();
    }
    void TearDown() override {
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }

    std::shared_ptr<TXFormDataRequest> form() {
        return TXFormDataRequest::requestWithURL(
            base::Url::parse("http://127.0.0.1:" + std::to_string(port) + "/form"));
    }
    // What PHP answered: UTF-8 JSON.
    std::string send(const std::shared_ptr<TXFormDataRequest>& request) {
        request->startSynchronous();
        EXPECT_FALSE(request->error()) << request->error()->localizedDescription();
        EXPECT_EQ(request->responseStatusCode(), 200);
        // The bytes as sent: PHP names no charset, so decoding would assume Latin-1.
        auto body = request->responseData().value_or(base::Data());
        return std::string(body.begin(), body.end());
    }
    std::string randomBytes(size_t size) {
        std::string bytes(size, '\0');
        std::mt19937 rng(static_cast<unsigned>(size));
        for (auto& c : bytes) c = static_cast<char>(rng());
        return bytes;
    }

    testsupport::TempDir dir;
    Peer server;
    uint16_t port = 0;
};

TEST_F(FormPhpTest, URLEncodedFieldsDecodeToWhatWasGiven) {
    auto request = form();
    request->addPostValue(base::Value("a&b=c+d %e/é~"), std::string("q"));
    request->addPostValue(base::Value(""), std::string("empty"));
    request->addPostValue(base::Value(int64_t{5}), std::string("n"));
    request->addPostValue(base::Value("x"), std::string("tag[]"));
    request->addPostValue(base::Value("y"), std::string("tag[]"));
    EXPECT_EQ(send(request),
              R"({"method":"POST","post":{"q":"a&b=c+d %e/é~","empty":"","n":"5","tag":["x","y"]},)"
              R"("files":[]})");
}

TEST_F(FormPhpTest, MultipartFieldsAndFilesArriveWhole) {
    std::string movie = randomBytes(300000);
    std::string path = dir.write("movie.mov", movie);
    std::string thumb = "\x89PNG\r\n\x1a\n--not a boundary\r\n";
    auto request = form();
    request->addPostValue(base::Value(int64_t{7}), std::string("project"));
    request->addPostValue(base::Value("line1\r\nline2 é"), std::string("note"));
    request->addFile(path, "movie");
    request->addData(base::Data(thumb.begin(), thumb.end()), "t.png", std::string("image/png"),
                     "thumb");
    EXPECT_EQ(send(request),
              R"({"method":"POST","post":{"project":"7","note":"line1\r\nline2 é"},"files":{)"
              R"("movie":{"name":"movie.mov","type":"video/quicktime","size":300000,"error":0,)"
              R"("md5":")" +
                  md5(movie) + R"("},"thumb":{"name":"t.png","type":"image/png","size":)" +
                  std::to_string(thumb.size()) + R"(,"error":0,"md5":")" + md5(thumb) + R"("}}})");
}

TEST_F(FormPhpTest, AFileOnlyFormAndAnEmptyFile) {
    std::string path = dir.write("empty.txt", "");
    auto request = form();
    request->addFile(path, "doc");
    EXPECT_EQ(
        send(request),
        R"({"method":"POST","post":[],"files":{"doc":{"name":"empty.txt","type":"text/plain",)"
        R"("size":0,"error":0,"md5":"d41d8cd98f00b204e9800998ecf8427e"}}})");
}

// A file name or field name carrying a quote and a line break stays inside its
// part: the parser sees no extra header and the fields after it arrive intact.
TEST_F(FormPhpTest, QuotesAndLineBreaksInNamesForgeNothing) {
    auto request = form();
    request->addData(base::Data{'h', 'i'}, "x\"\r\nContent-Type: text/html\r\n\r\n.txt",
                     std::string("text/plain"), "up");
    request->addPostValue(base::Value("kept"), std::string("after\"\r\nX: y"));
    request->setPostFormat(TXFormDataRequest::PostFormatMultipart);
    std::string reply = send(request);
    EXPECT_NE(reply.find(R"("type":"text/plain","size":2,"error":0)"), std::string::npos) << reply;
    EXPECT_NE(reply.find(R"(:"kept")"), std::string::npos) << reply;
    EXPECT_EQ(reply.find("text/html"), std::string::npos) << reply;
}

}  // namespace
