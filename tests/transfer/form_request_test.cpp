// Form requests as a server receives them: the headers and body the request builds,
// the switch to multipart, replacing fields, copies, and files that are not there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "support/OWLocalPaths.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/TempDir.h"
#include "tests/transfer/HttpTestServer.h"
#include "transfer/TXFormDataRequest.h"

namespace {

using txtest::HttpTestServer;
using txtest::ReceivedRequest;

base::Url U(const std::string& text) {
    return *base::Url::parse(text);
}

class FormRequestTest : public testsupport::MainThreadTest {
  protected:
    void TearDown() override {
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }
    // Sends the request synchronously and answers what the server received.
    ReceivedRequest send(const std::shared_ptr<TXFormDataRequest>& request) {
        request->startSynchronous();
        EXPECT_FALSE(request->error()) << request->error()->localizedDescription();
        auto seen = server.requests();
        return seen.empty() ? ReceivedRequest{} : seen.back();
    }
    std::shared_ptr<TXFormDataRequest> form() {
        return TXFormDataRequest::requestWithURL(U(server.url("/form")));
    }

    HttpTestServer server{[](const ReceivedRequest&) {
        return HttpTestServer::Reply{HttpTestServer::response(200, "", "ok")};
    }};
    testsupport::TempDir dir;
};

TEST_F(FormRequestTest, TextFieldsArePostedURLEncodedWithTheirCharset) {
    auto request = form();
    request->addPostValue(base::Value("A B"), std::string("title"));
    request->addPostValue(base::Value(int64_t{5}), std::string("n"));
    request->addPostValue(base::Value("dropped"), std::nullopt);
    auto got = send(request);
    EXPECT_EQ(got.method, "POST");
    EXPECT_EQ(got.header("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(got.body, "title=A%20B&n=5");
    EXPECT_EQ(got.header("Content-Length"), "15");
    EXPECT_EQ(request->postFormat(), TXFormDataRequest::PostFormatURLEncoded);
}

TEST_F(FormRequestTest, SetPostValueReplacesEveryFieldOfThatName) {
    auto request = form();
    request->addPostValue(base::Value("1"), std::string("a"));
    request->addPostValue(base::Value("x"), std::string("b"));
    request->addPostValue(base::Value("2"), std::string("a"));
    request->setPostValue(base::Value("3"), std::string("a"));
    EXPECT_EQ(send(request).body, "b=x&a=3");
}

TEST_F(FormRequestTest, AFileFieldSwitchesToMultipartStreamedFromDisk) {
    std::string movie = dir.write("movie.mov", std::string("\0\1moov\r\n--", 10));
    auto request = form();
    request->addPostValue(base::Value(int64_t{7}), std::string("project"));
    request->addFile(movie, "file");
    auto got = send(request);
    EXPECT_EQ(request->postFormat(), TXFormDataRequest::PostFormatMultipart);
    EXPECT_TRUE(request->shouldStreamPostDataFromDisk());

    std::smatch m;
    std::string type = got.header("Content-Type");
    ASSERT_TRUE(std::regex_match(
        type, m,
        std::regex("multipart/form-data; charset=utf-8; boundary=(0xKhTmLbOuNdArY-[0-9A-F-]{36})")))
        << type;
    std::string b = m[1];
    std::string expected =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"project\"\r\n\r\n7\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"file\"; "
        "filename=\"movie.mov\"\r\nContent-Type: video/quicktime\r\n\r\n" +
        std::string("\0\1moov\r\n--", 10) + "\r\n--" + b + "--\r\n";
    EXPECT_EQ(got.body, expected);
    EXPECT_EQ(got.header("Content-Length"), std::to_string(expected.size()));
}

TEST_F(FormRequestTest, MultipartWithTextOnlyAndAFreshBoundaryEachTime) {
    auto request = form();
    request->setPostFormat(TXFormDataRequest::PostFormatMultipart);
    request->addPostValue(base::Value("v"), std::string("k"));
    auto again = std::static_pointer_cast<TXFormDataRequest>(request->copy());
    auto first = send(request);
    auto second = send(again);
    EXPECT_EQ(second.method, "POST");
    EXPECT_NE(first.header("Content-Type"), second.header("Content-Type"));
    std::string b =
        first.header("Content-Type").substr(first.header("Content-Type").find("=0x") + 1);
    EXPECT_EQ(
        first.body,
        "--" + b + "\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n--" + b + "--\r\n");
}

TEST_F(FormRequestTest, ACopyKeepsFieldsFilesFormatAndMethod) {
    auto request = form();
    request->setRequestMethod("PUT");
    request->addPostValue(base::Value("1"), std::string("a"));
    request->addData(base::Data{'x', 'y'}, "blob");
    auto copy = std::static_pointer_cast<TXFormDataRequest>(request->copy());
    request->addPostValue(base::Value("later"), std::string("b"));
    EXPECT_EQ(copy->requestMethod(), "PUT");
    ASSERT_TRUE(copy->postData());
    EXPECT_EQ(copy->postData()->size(), 1u);
    ASSERT_TRUE(copy->fileData());
    EXPECT_EQ(copy->fileData()->at(0).fileName, "file");
    EXPECT_EQ(copy->fileData()->at(0).contentType, "application/octet-stream");
    auto got = send(copy);
    EXPECT_EQ(got.method, "PUT");
    EXPECT_NE(
        got.body.find("filename=\"file\"\r\nContent-Type: application/octet-stream\r\n\r\nxy"),
        std::string::npos);
}

TEST_F(FormRequestTest, AMissingFileOrAFolderFailsWithCode6BeforeAnythingIsSent) {
    for (std::string path : {dir.path() + "/absent.mov", dir.path()}) {
        auto request = form();
        request->addPostValue(base::Value("1"), std::string("a"));
        request->addFile(path, "file");
        ASSERT_TRUE(request->error());
        EXPECT_EQ(request->error()->code(), 6);
        EXPECT_EQ(request->error()->localizedDescription(), "No file exists at " + path);
        EXPECT_FALSE(request->fileData()) << "a failed request takes no more fields";
        request->startSynchronous();
        EXPECT_TRUE(request->isFinished());
    }
    EXPECT_TRUE(server.requests().empty());
}

// A file that goes away between adding it and sending must not become an empty
// part that the server takes for the whole upload. The body file, which already
// holds the fields written before it, goes with the request however that ends.
TEST_F(FormRequestTest, AFileGoneBeforeTheBodyIsBuiltFailsTheRequestAndLeavesNoBodyFile) {
    testsupport::TempDir temporary;
    const char* savedTmp = std::getenv("TMPDIR");
    std::string saved = savedTmp ? savedTmp : "";
    ::setenv("TMPDIR", temporary.path().c_str(), 1);
    std::string bodyFolder = OWLocalPaths::tempDirectory();
    auto bodyFiles = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(bodyFolder)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    };

    std::string path = dir.write("gone.mov", "bytes");
    auto request = form();
    request->addPostValue(base::Value("secret-token"), std::string("token"));
    request->addFile(path, "file");
    ASSERT_FALSE(request->error());
    ASSERT_EQ(::unlink(path.c_str()), 0);
    request->startSynchronous();
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code(), 8);
    EXPECT_TRUE(request->isFinished());
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(bodyFiles(), std::vector<std::string>{});

    // Sent, cancelled on its way, or cancelled before it starts: nothing stays either.
    std::string kept = dir.write("kept.mov", "bytes");
    for (int ending = 0; ending < 3; ++ending) {
        auto other = form();
        other->addPostValue(base::Value("secret-token"), std::string("token"));
        other->addFile(kept, "file");
        if (ending == 1) {
            std::weak_ptr<TXFormDataRequest> weak = other;
            other->setBytesSentBlock([weak](uint64_t, uint64_t) {
                if (auto me = weak.lock())
                    me->cancel();
            });
        } else if (ending == 2) {
            other->cancel();
        }
        other->startSynchronous();
        EXPECT_TRUE(other->isFinished()) << ending;
        EXPECT_EQ(bodyFiles(), std::vector<std::string>{}) << ending;
    }
    saved.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", saved.c_str(), 1);
}

}  // namespace
