// Uploads to a self-hosted server: the form posted to "/files/upload", read by the
// stand-in service and by PHP's own multipart parser, and the server's reply as the
// one outcome of the upload.
#include <gtest/gtest.h>

#include <cstdlib>

#include "base/Path.h"
#include "client/json/QMJSON.h"
#include "tests/client/UploadTestSupport.h"
#include "tests/helpers/Peer.h"
#include "transfer/TXFormDataRequest.h"
#include "transfer/TXS3ObjectRequest.h"

namespace {

using testsupport::Peer;
using uploadtest::expectEveryField;
using uploadtest::fieldsOf;
using uploadtest::has;
using uploadtest::sha256Hex;
using uploadtest::uploadWithEveryField;

constexpr size_t kFileSize = 3 * 1024 * 1024 + 5;

class ServerUploadTest : public uploadtest::UploadRoadTest {
  protected:
    void SetUp() override {
        UploadRoadTest::SetUp();
        if (!startService()) {
            const std::string why = "the stand-in service is missing: " +
                                    (service ? service->problem() : std::string());
            if (Peer::isCi()) {
                FAIL() << why;
            }
            GTEST_SKIP() << why;
        }
    }

    // Uploads one more file and waits for its outcome: uploads run in order, so a
    // second outcome of the upload before it would have come by then.
    void uploadMarker() {
        client->uploadFile(writeFile("marker.mov", 10), 1, std::nullopt, std::nullopt);
        ASSERT_TRUE(pumpUntil([&] { return delegate->outcomes() >= 2; }, 60));
        ASSERT_FALSE(delegate->uploaded.empty());
        EXPECT_EQ(delegate->uploaded.back()["id"].isNumber(), true);
    }
};

TEST_F(ServerUploadTest, TheFormCarriesEveryFieldTheTokenAndTheFilePart) {
    makeClient(service->url(), service->url());
    const std::string path = writeFile("ab c(1).mov", kFileSize);
    uploadWithEveryField(*client, path, base::Dictionary{{"status", "3"}});
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
    EXPECT_TRUE(delegate->uploaded[0]["id"].isNumber());

    const auto entries = logged("/api/0/files/upload");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0]["content_type"].stringValue().starts_with("multipart/form-data"));
    const auto f = fieldsOf(entries[0]);
    expectEveryField(f, token);
    // The local path travels as the file part, never as a text field.
    EXPECT_FALSE(has(f, "file"));
    const auto* files = entries[0]["files"].array();
    ASSERT_TRUE(files && files->size() == 1);
    const base::Value part = (*files)[0];
    EXPECT_EQ(part["field"].stringValue(), "file");
    EXPECT_EQ(part["filename"].stringValue(), "ab c(1).mov");
    EXPECT_EQ(part["size"].integerValue(), static_cast<int64_t>(kFileSize));
    EXPECT_EQ(part["sha256"].stringValue(), sha256Hex(testsupport::readFile(path)));

    // Progress counts the whole form body (fields and file), never backwards, paired
    // with this upload's settings without the token.
    EXPECT_GE(delegate->progressSum(), static_cast<int64_t>(kFileSize));
    for (size_t i = 0; i < delegate->progress.size(); ++i) {
        EXPECT_GE(delegate->progress[i], 0);
        EXPECT_FALSE(delegate->files[i].find("access_token"));
        EXPECT_TRUE(base::Value(delegate->files[i])["source"].stringValue().ends_with(".mov"));
    }
    EXPECT_TRUE(client->uploadQueueSettings().empty());
}

TEST_F(ServerUploadTest, NoBucketIsAskedAndTheFormIsTheOnlyRequest) {
    // A storage address that would refuse every connection: nothing may go there.
    ::setenv("QUORVANE_STORAGE_HOST", ("127.0.0.1:" + std::to_string(Peer::freePort())).c_str(), 1);
    ::setenv("QUORVANE_STORAGE_SCHEME", "http", 1);
    makeClient(service->url(), service->url());
    client->uploadFile(writeFile("n.mov", 100), 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(waitForOutcome());
    ::unsetenv("QUORVANE_STORAGE_HOST");
    ::unsetenv("QUORVANE_STORAGE_SCHEME");
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
    EXPECT_EQ(logged("/api/0/files/upload").size(), 1u);
}

TEST_F(ServerUploadTest, TheFormRequestWaitsThreeMinutesAndRetriesThreeTimesFromDisk) {
    makeClient(service->url(), service->url());
    client->pauseQueue();
    client->uploadFile(writeFile("s.mov", 10), 1, std::nullopt, std::nullopt);
    const auto operations = client->queuedOperations();
    ASSERT_EQ(operations.size(), 1u);
    const auto form = std::dynamic_pointer_cast<TXFormDataRequest>(operations[0]);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->timeOutSeconds(), 180.0);
    EXPECT_EQ(form->numberOfTimesToRetryOnTimeout(), 3);
    EXPECT_TRUE(form->shouldStreamPostDataFromDisk());
    EXPECT_EQ(client->uploadQueueSettings().size(), 1u);
    client->cancelAllOperations();
}

TEST_F(ServerUploadTest, TheStorageRequestWaitsFiveMinutesWithoutRetries) {
    makeClient(service->url());
    client->pauseQueue();
    client->uploadFile(writeFile("h.mov", 10), 1, std::nullopt, std::nullopt);
    const auto operations = client->queuedOperations();
    ASSERT_EQ(operations.size(), 1u);
    const auto put = std::dynamic_pointer_cast<TXS3ObjectRequest>(operations[0]);
    ASSERT_TRUE(put);
    EXPECT_EQ(put->timeOutSeconds(), 300.0);
    EXPECT_EQ(put->numberOfTimesToRetryOnTimeout(), 0);
    client->cancelAllOperations();
}

TEST_F(ServerUploadTest, AReplyInManyPiecesIsOneOutcome) {
    makeClient(service->url(), service->url());
    service->script("/api/0/files/upload",
                    R"({"json": {"id": 4242, "title": "a reply long enough to split"},)"
                    R"( "pieces": 6, "piece_delay": 0.05})");
    client->uploadFile(writeFile("p.mov", 2000), 1, std::nullopt, std::nullopt);
    uploadMarker();
    ASSERT_EQ(delegate->outcomes(), 2u);
    ASSERT_EQ(delegate->uploaded.size(), 2u) << delegate->failureText();
    EXPECT_EQ(delegate->uploaded[0]["id"].integerValue(), 4242);
}

TEST_F(ServerUploadTest, AnEmptyReplyIsOneOutcome) {
    makeClient(service->url(), service->url());
    service->script("/api/0/files/upload", R"({"text": "", "status": 200})");
    client->uploadFile(writeFile("e.mov", 2000), 1, std::nullopt, std::nullopt);
    uploadMarker();
    EXPECT_EQ(delegate->outcomes(), 2u);
    // An empty reply is the service's failure, told once.
    ASSERT_EQ(delegate->failures.size(), 1u);
    EXPECT_NE(delegate->failureText().find("Server error"), std::string::npos)
        << delegate->failureText();
}

TEST_F(ServerUploadTest, AServerErrorReplyIsTheFailure) {
    makeClient(service->url(), service->url());
    service->script("/api/0/files/upload", R"({"json": {"error": "Project is full"}})");
    client->uploadFile(writeFile("f.mov", 2000), 1, std::nullopt, std::nullopt);
    uploadMarker();
    ASSERT_EQ(delegate->outcomes(), 2u);
    ASSERT_EQ(delegate->failures.size(), 1u);
    EXPECT_EQ(delegate->failureText(), "Project is full");
}

TEST_F(ServerUploadTest, AConnectionClosedWithoutAnswerIsOneFailure) {
    makeClient(service->url(), service->url());
    service->script("/api/0/files/upload", R"({"drop": true})");
    client->uploadFile(writeFile("d.mov", 2000), 1, std::nullopt, std::nullopt);
    uploadMarker();
    ASSERT_EQ(delegate->outcomes(), 2u);
    ASSERT_EQ(delegate->failures.size(), 1u);
    EXPECT_EQ(delegate->failures[0].domain(), "OWQuorvaneErrorDomain");
    EXPECT_FALSE(delegate->failureText().empty());
    EXPECT_TRUE(client->uploadQueueSettings().empty());
}

// PHP's own form parser reads what the client sent: a program nobody here wrote.
class PhpServerUploadTest : public uploadtest::UploadRoadTest {
  protected:
    void SetUp() override {
        UploadRoadTest::SetUp();
        const std::string php = Peer::findBinary("php");
        QV_REQUIRE_PEER_BINARY(php, "php");
        dir.write("router.php", R"PHP(<?php
$files = [];
foreach ($_FILES as $field => $file) {
    $files[$field] = [
        'name' => $file['name'], 'type' => $file['type'], 'size' => $file['size'],
        'error' => $file['error'],
        'sha256' => $file['error'] === UPLOAD_ERR_OK ? hash_file('sha256', $file['tmp_name']) : '',
    ];
}
header('Content-Type: application/json');
echo json_encode(['id' => 808, 'uri' => $_SERVER['REQUEST_URI'],
                  'content_type' => $_SERVER['CONTENT_TYPE'] ?? '',
                  'post' => $_POST, 'files' => $files], JSON_UNESCAPED_SLASHES);
)PHP");
        const uint16_t port = Peer::freePort();
        ASSERT_TRUE(php_.start(
            {php, "-n", "-d", "upload_max_filesize=64M", "-d", "post_max_size=64M", "-d",
             "file_uploads=1", "-S", "127.0.0.1:" + std::to_string(port), dir.file("router.php")},
            dir.path(), port))
            << php_.failure();
        token = "php-token-0123456789";
        url = "http://127.0.0.1:" + std::to_string(port);
        makeClient(url, url);
    }
    Peer php_;
    std::string url;
};

TEST_F(PhpServerUploadTest, PhpReadsEveryFieldAndTheWholeFile) {
    const std::string path = writeFile("ab c(1).mov", kFileSize);
    uploadWithEveryField(*client, path, base::Dictionary{{"status", "3"}});
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
    const base::Value reply = delegate->uploaded[0];
    EXPECT_EQ(reply["id"].integerValue(), 808);
    EXPECT_EQ(reply["uri"].stringValue(), "/api/0/files/upload");
    EXPECT_TRUE(reply["content_type"].stringValue().starts_with("multipart/form-data;"))
        << reply["content_type"].stringValue();
    EXPECT_NE(reply["content_type"].stringValue().find("boundary="), std::string::npos);
    expectEveryField(reply["post"], token);
    EXPECT_FALSE(has(reply["post"], "file"));

    const base::Value part = reply["files"]["file"];
    EXPECT_EQ(part["error"].integerValue(), 0);
    EXPECT_EQ(part["name"].stringValue(), "ab c(1).mov");
    EXPECT_EQ(part["type"].stringValue(), "video/quicktime");
    EXPECT_EQ(part["size"].integerValue(), static_cast<int64_t>(kFileSize));
    EXPECT_EQ(part["sha256"].stringValue(), sha256Hex(testsupport::readFile(path)));
}

TEST_F(PhpServerUploadTest, PhpReadsAnEmptyFileAndAnArchivedFolder) {
    client->uploadFile(writeFile("empty.mov", 0), 1, std::nullopt, std::nullopt);
    const std::string folder = dir.makeFolder("Shots");
    dir.write("Shots/one.txt", "one");
    client->uploadFile(folder, 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return delegate->outcomes() >= 2; }, 60));
    ASSERT_EQ(delegate->uploaded.size(), 2u) << delegate->failureText();

    const base::Value empty = delegate->uploaded[0];
    EXPECT_EQ(empty["files"]["file"]["error"].integerValue(), 0);
    EXPECT_EQ(empty["files"]["file"]["size"].integerValue(), 0);
    EXPECT_EQ(empty["files"]["file"]["sha256"].stringValue(), sha256Hex(""));

    const base::Value zipped = delegate->uploaded[1];
    EXPECT_EQ(zipped["post"]["resetsize"].stringValue(), "1");
    EXPECT_EQ(zipped["post"]["title"].stringValue(), "Shots");
    EXPECT_EQ(zipped["post"]["mime-type"].stringValue(), "application/zip");
    EXPECT_EQ(zipped["files"]["file"]["type"].stringValue(), "application/zip");
    EXPECT_TRUE(zipped["files"]["file"]["name"].stringValue().ends_with(".zip"));
    EXPECT_GT(zipped["files"]["file"]["size"].integerValue(), 0);
}

// Form uploads of files from disk to any address, read by PHP: each part keeps its own
// name and type whatever the call says, the outcome is that of "files/upload", and an
// upload queued behind keeps its place in the upload list and its progress.
TEST_F(PhpServerUploadTest, FormUploadsPostFilesFromDiskUnderTheirFields) {
    const std::string clip = writeFile("take 1.mov", 300000);
    const std::string still = writeFile("still.png", 1000);
    client->pauseQueue();
    client->postURL(url + "/hooks/form", {{"note", "50% done"}},
                    OWQuorvane::FormFiles{{"movie", clip}, {"picture", still}}, "text/plain",
                    std::string("renamed.bin"), "files/thumb");
    client->postURL(url + "/one", {}, still, "text/plain", std::nullopt, "files/thumb");
    client->postURL(url + "/gone", {}, dir.file("gone.mov"), "", std::nullopt, "");
    client->uploadFile(writeFile("marker.mov", 2000), 1, std::nullopt, std::nullopt);
    client->oauthChanged();  // resumes the queue
    ASSERT_TRUE(pumpUntil([&] { return delegate->outcomes() >= 4; }, 60));
    ASSERT_EQ(delegate->uploaded.size(), 3u) << delegate->failureText();
    ASSERT_EQ(delegate->failures.size(), 1u);
    EXPECT_EQ(delegate->failures[0].domain(), "OWQuorvaneErrorDomain");

    const base::Value form = delegate->uploaded[0];
    EXPECT_EQ(form["uri"].stringValue(), "/hooks/form");
    EXPECT_EQ(form["post"]["note"].stringValue(), "50% done");
    EXPECT_EQ(form["post"]["access_token"].stringValue(), token);
    const base::Value movie = form["files"]["movie"];
    EXPECT_EQ(movie["name"].stringValue(), "take 1.mov");
    EXPECT_EQ(movie["type"].stringValue(), "video/quicktime");
    EXPECT_EQ(movie["size"].integerValue(), 300000);
    EXPECT_EQ(movie["sha256"].stringValue(), sha256Hex(testsupport::readFile(clip)));
    EXPECT_EQ(form["files"]["picture"]["name"].stringValue(), "still.png");
    EXPECT_EQ(form["files"]["picture"]["type"].stringValue(), "image/png");
    EXPECT_EQ(form["files"]["picture"]["sha256"].stringValue(),
              sha256Hex(testsupport::readFile(still)));

    const base::Value one = delegate->uploaded[1];
    EXPECT_EQ(one["uri"].stringValue(), "/one");
    EXPECT_EQ(one["files"]["file"]["name"].stringValue(), "still.png");
    EXPECT_EQ(one["files"]["file"]["size"].integerValue(), 1000);

    EXPECT_EQ(delegate->uploaded[2]["uri"].stringValue(), "/api/0/files/upload");
    ASSERT_FALSE(delegate->progress.empty());
    for (const auto& file : delegate->files) {
        EXPECT_TRUE(base::Value(file)["source"].stringValue().ends_with("-marker.mov"));
    }
    EXPECT_TRUE(client->uploadQueueSettings().empty());
}

}  // namespace
