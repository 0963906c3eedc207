// Uploads to the storage bucket (the strict stand-in, whose signatures botocore checks)
// followed by the registration with the stand-in service.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "base/Path.h"
#include "tests/client/UploadTestSupport.h"
#include "tests/helpers/Peer.h"

namespace {

using uploadtest::expectEveryField;
using uploadtest::fieldsOf;
using uploadtest::has;
using uploadtest::uploadWithEveryField;

class StorageUploadTest : public uploadtest::StandInRoadTest {
  protected:
    // The one registration the service received, checked against what was stored.
    base::Value registration() {
        const auto entries = logged("/api/0/files/upload");
        EXPECT_EQ(entries.size(), 1u);
        return entries.empty() ? base::Value(base::Dictionary()) : fieldsOf(entries[0]);
    }
};

TEST_F(StorageUploadTest, OnePutThenTheRegistrationWithEveryField) {
    const std::string path = writeFile("ab c(1).mov", 3 * 1024 * 1024 + 17);
    uploadWithEveryField(*client, path,
                         base::Dictionary{{"status", "3"}, {"source", "caller's own"}});
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
    EXPECT_TRUE(delegate->uploaded[0]["id"].isNumber());

    const auto f = registration();
    const std::string key = f["source"].stringValue();
    ASSERT_EQ(key.rfind("uploads/", 0), 0u);
    EXPECT_EQ(key.size(), std::string("uploads/").size() + 32 + std::string("-ab_c_1_.mov").size());
    expectEveryField(f, token);
    EXPECT_EQ(f["file"].stringValue(), path);
    EXPECT_FALSE(has(f, "resetsize"));

    // The object under that key is the file, byte for byte, sent in one PUT.
    EXPECT_EQ(storage.objectBytes(key), testsupport::readFile(path));
    EXPECT_EQ(storage.stat("puts"), 1);
    EXPECT_EQ(storage.stat("signature_failures"), 0);

    // Progress: never negative, adds up to the file, paired with this upload's settings,
    // which never carry the token.
    EXPECT_EQ(delegate->progressSum(), static_cast<int64_t>(3 * 1024 * 1024 + 17));
    for (size_t i = 0; i < delegate->progress.size(); ++i) {
        EXPECT_GE(delegate->progress[i], 0);
        EXPECT_EQ(base::Value(delegate->files[i])["source"].stringValue(), key);
        EXPECT_FALSE(delegate->files[i].find("access_token"));
    }
    EXPECT_TRUE(client->uploadQueueSettings().empty());
}

TEST_F(StorageUploadTest, ShortFormsFillInTheirDefaults) {
    const std::string path = writeFile("plain.mp4", 1000);
    client->uploadFile(path, 2, std::nullopt, std::nullopt);
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
    const auto f = registration();
    EXPECT_EQ(f["parent"].stringValue(), "/");
    EXPECT_EQ(f["department"].stringValue(), "-1");
    EXPECT_EQ(f["title"].stringValue(), "plain.mp4");
    EXPECT_EQ(f["auto_revise"].stringValue(), "0");
    EXPECT_EQ(f["notifications"].stringValue(), "1");
    for (const char* absent : {"description", "frameRate", "timecodeStart", "duration", "app_id",
                               "link_emails", "link_comments"}) {
        EXPECT_FALSE(has(f, absent)) << absent;
    }
}

TEST_F(StorageUploadTest, TheAppFormSendsAnEmptyDescriptionAndTheDate) {
    const std::string path = writeFile("still.png", 10);
    client->uploadFile(path, std::string("app-3"), std::nullopt, std::string("Still"),
                       base::Date{1700000000.4});
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
    const auto f = registration();
    EXPECT_EQ(f["project_id"].stringValue(), "-1");
    EXPECT_EQ(f["description"].stringValue(), "");
    EXPECT_TRUE(has(f, "description"));
    EXPECT_EQ(f["app_id"].stringValue(), "app-3");
    EXPECT_EQ(f["auto_revise"].stringValue(), "1");
    EXPECT_EQ(f["notifications"].stringValue(), "0");
    EXPECT_EQ(f["date"].stringValue(), "1700000000");
    EXPECT_EQ(f["mime-type"].stringValue(), "image/png");
}

TEST_F(StorageUploadTest, NothingHappensUnlinkedWithoutPathOrProject) {
    const std::string path = writeFile("x.mov", 10);
    client->uploadFile(path, 0, std::nullopt, std::nullopt);
    client->uploadFile("", 1, std::nullopt, std::nullopt);
    account->unlink();
    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    EXPECT_TRUE(client->uploadQueueSettings().empty());
    EXPECT_EQ(client->queuedOperationCount(), 0u);
    EXPECT_EQ(storage.stat("puts"), 0);
}

// A device reads as empty (or without end) whatever its size says, and a pipe may never
// be written: neither is stored or registered, on either road of the storage upload.
TEST_F(StorageUploadTest, APipeOrDeviceIsAFailureAndNothingIsStored) {
    const std::string device = dir.file("zero.mov");
    ASSERT_EQ(::symlink("/dev/zero", device.c_str()), 0);
    const std::string pipe = dir.file("pipe.mov");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const bool segmented : {false, true}) {
        setSegmented(segmented);
        for (const std::string& path : {device, pipe}) {
            delegate->failures.clear();
            client->uploadFile(path, 1, std::nullopt, std::nullopt);
            ASSERT_TRUE(waitForOutcome());
            ASSERT_EQ(delegate->failures.size(), 1u) << path;
            EXPECT_NE(delegate->failureText().find("is not a file"), std::string::npos)
                << delegate->failureText();
        }
    }
    EXPECT_TRUE(delegate->uploaded.empty());
    EXPECT_EQ(storage.stat("puts"), 0);
    EXPECT_EQ(storage.stat("parts"), 0);
    EXPECT_TRUE(logged("/api/0/files/upload").empty());
}

TEST_F(StorageUploadTest, MultipartWhenSegmentedUploadsIsOn) {
    setSegmented(true);
    const size_t size = 41 * 1024 * 1024;
    const std::string path = writeFile("big.mov", size);
    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(waitForOutcome(120));
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
    const std::string key = registration()["source"].stringValue();
    EXPECT_EQ(storage.stat("parts"), 3);
    EXPECT_EQ(storage.stat("completes"), 1);
    EXPECT_EQ(storage.objectBytes(key), testsupport::readFile(path));
    for (int64_t p : delegate->progress) {
        EXPECT_GE(p, 0);
    }
}

TEST_F(StorageUploadTest, AnEmptyFileUploadsAsOneEmptyPart) {
    setSegmented(true);
    const std::string path = writeFile("e.mov", 0);
    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
    const std::string key = registration()["source"].stringValue();
    EXPECT_EQ(storage.stat("completes"), 1);
    EXPECT_EQ(storage.objectBytes(key), "");
}

TEST_F(StorageUploadTest, AnEmptyFileUploadsInOnePut) {
    const std::string path = writeFile("e.mov", 0);
    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();
    EXPECT_EQ(storage.stat("puts"), 1);
}

TEST_F(StorageUploadTest, AFolderPackageGoesAsAnArchiveThatIsDeletedAfterwards) {
    const std::string bundle = dir.makeFolder("My Clip.fcpbundle");
    dir.makeFolder("My Clip.fcpbundle/Media");
    dir.write("My Clip.fcpbundle/Media/a.txt", "hello");
    client->uploadFile(bundle, 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();

    const auto f = registration();
    EXPECT_EQ(f["resetsize"].stringValue(), "1");
    EXPECT_EQ(f["title"].stringValue(), "My Clip.fcpbundle");
    EXPECT_EQ(f["mime-type"].stringValue(), "application/zip");
    const std::string archive = f["file"].stringValue();
    EXPECT_TRUE(archive.ends_with(".zip"));
    EXPECT_TRUE(f["source"].stringValue().ends_with(
        "-" + OWQuorvane::sanitizeFilename(base::lastPathComponent(archive))));
    struct stat st {};
    EXPECT_NE(::stat(archive.c_str(), &st), 0) << "the archive is left behind";

    // The stored archive keeps the package's own folder at its top.
    const std::string unzip = testsupport::Peer::findBinary("unzip");
    QV_REQUIRE_PEER_BINARY(unzip, "unzip");
    const std::string copy = dir.file("stored.zip");
    std::ofstream(copy, std::ios::binary) << storage.objectBytes(f["source"].stringValue());
    ASSERT_EQ(testsupport::Peer::runTool({unzip, "-Z1", copy}, dir.file("list")), 0);
    const std::string list = testsupport::readFile(dir.file("list"));
    EXPECT_NE(list.find("My Clip.fcpbundle/Media/a.txt"), std::string::npos) << list;
}

TEST_F(StorageUploadTest, AStorageErrorEndsWithItsMessageAndNoRegistration) {
    // One RequestTimeout is sent again on a new connection; the second one fails.
    ASSERT_TRUE(storage.script(R"({"request_timeout": 2})"));
    client->uploadFile(writeFile("t.mov", 1000), 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->failures.size(), 1u);
    EXPECT_EQ(delegate->failures[0].domain(), "OWQuorvaneErrorDomain");
    EXPECT_EQ(delegate->failures[0].code(), 0);
    EXPECT_NE(delegate->failureText().find("not read from or written to"), std::string::npos)
        << delegate->failureText();
    EXPECT_TRUE(logged("/api/0/files/upload").empty());
    EXPECT_TRUE(client->uploadQueueSettings().empty());
}

TEST_F(StorageUploadTest, CancellingWhileTheStorageAnswersEndsAsCancelled) {
    ASSERT_TRUE(storage.script(R"({"slow_seconds": 8})"));
    const std::string path = writeFile("c.mov", 256 * 1024);
    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return delegate->progressSum() == 256 * 1024; }, 30));
    client->cancelAllOperations();
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->failures.size(), 1u);
    EXPECT_EQ(delegate->failureText(), "The request was cancelled");
    EXPECT_TRUE(delegate->uploaded.empty());
}

TEST_F(StorageUploadTest, UnlinkedBeforeTheRegistrationIsReportedAsAFailure) {
    ASSERT_TRUE(storage.script(R"({"slow_seconds": 1})"));
    client->uploadFile(writeFile("u.mov", 4096), 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return delegate->progressSum() == 4096; }, 30));
    account->unlink();
    ASSERT_TRUE(waitForOutcome());
    ASSERT_EQ(delegate->failures.size(), 1u);
    EXPECT_EQ(delegate->failureText(),
              "Unable to finish upload - not linked to a Quorvane account");
    EXPECT_TRUE(logged("/api/0/files/upload").empty());
}

TEST_F(StorageUploadTest, TwoUploadsOfOneNameInOneInstantGetTheirOwnKeys) {
    const std::string path = writeFile("same.mov", 100);
    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(pumpUntil([&] { return delegate->outcomes() >= 2; }, 60));
    ASSERT_EQ(delegate->uploaded.size(), 2u) << delegate->failureText();
    const auto entries = logged("/api/0/files/upload");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_NE(fieldsOf(entries[0])["source"].stringValue(),
              fieldsOf(entries[1])["source"].stringValue());
}

}  // namespace
