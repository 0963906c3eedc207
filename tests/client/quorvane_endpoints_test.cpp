// Every endpoint operation: its address, its context (through the callback reached) and
// its exact body, in field order, with the access token last.
#include <gtest/gtest.h>

#include <functional>

#include "client/OWQuorvane.h"
#include "tests/client/QuorvaneFakes.h"
#include "tests/helpers/MainThread.h"

namespace {

using quorvanetest::FakeAccount;
using quorvanetest::ScriptedLoader;

struct Endpoint {
    const char* name;
    std::function<void(OWQuorvane&)> call;
    const char* path;
    const char* body;  // without the access token
};

class QuorvaneEndpoints : public testsupport::MainThreadTest,
                          protected quorvanetest::SharedClientState {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        account->link("T");
        client = OWQuorvane::create(nullptr, {account, loader, sharedCache, sharedCenter, nullptr});
    }
    std::shared_ptr<FakeAccount> account = std::make_shared<FakeAccount>();
    std::shared_ptr<ScriptedLoader> loader = std::make_shared<ScriptedLoader>();
    std::shared_ptr<OWQuorvane> client;
};

TEST_F(QuorvaneEndpoints, EveryOperationSendsItsFieldsToItsPath) {
    const Endpoint endpoints[] = {
        {"createProject", [](auto& c) { c.createProject("Film", "About", std::nullopt, 2); },
         "/projects/create", "&title=Film&status=2&description=About"},
        {"populateProjects", [](auto& c) { c.populateProjects(); }, "/projects",
         "&privateStorage=0"},
        {"populateProjects:", [](auto& c) { c.populateProjects(true); }, "/projects",
         "&privateStorage=1"},
        {"departments", [](auto& c) { c.populateDepartmentsForProjectID(12); },
         "/projects/departments", "&project_id=12"},
        {"workflows", [](auto& c) { c.populateFileWorkflowsForProjectID(-3); },
         "/projects/workflows", "&project_id=-3"},
        {"video short", [](auto& c) { c.populateVideoFilesForProjectID(7); },
         "/projects/files/video", "&project_id=7&dept=-1&parent=/"},
        {"video full",
         [](auto& c) { c.populateVideoFilesForProjectID(7, true, true, "/a b", 3, true, true); },
         "/projects/files/video",
         "&project_id=7&dept=3&thumbs=1&folders=1&parent=/a%20b&depts=1&commentstreams=1"},
        {"audiovideo",
         [](auto& c) {
             c.populateAudioVideoFilesForProjectID(1, false, false, std::nullopt, 2, false, true,
                                                   {{"dept", "9"}, {"sort", "name"}});
         },
         "/projects/files/audiovideo", "&project_id=1&dept=9&commentstreams=1&sort=name"},
        {"files", [](auto& c) { c.populateFilesForProjectID(4, true, false, "/", -1, false, {}); },
         "/projects/files", "&project_id=4&dept=-1&thumbs=1&parent=/"},
        {"files for app", [](auto& c) { c.populateFilesForApp("app7", "/in"); }, "/apps/files",
         "&project_id=-1&dept=-1&parent=/in&app_id=app7"},
        {"folders", [](auto& c) { c.populateFoldersForProjectID(5, "/x", 2, true); },
         "/projects/folders", "&project_id=5&dept=2&subfolders=1&parent=/x"},
        {"revisions", [](auto& c) { c.populateRevisionsForFile(9007199254740993, true); },
         "/projects/files/revisions", "&file_id=9007199254740993&thumbs=1"},
        {"events", [](auto& c) { c.populateAllEvents(); }, "/projects/events", ""},
        {"events since 10.4", [](auto& c) { c.populateAllEventsSinceDate(base::Date{10.4}); },
         "/projects/events", "&since=11"},
        {"events since 10.6", [](auto& c) { c.populateAllEventsSinceDate(base::Date{10.6}); },
         "/projects/events", "&since=11"},
        {"comment stream",
         [](auto& c) { c.createCommentStream("Cut", 3, 4, "/f", 29.97f, "01:00:00;00", true); },
         "/commentstream/create",
         "&project_id=3&title=Cut&frame_rate=29.97&timecode=01:00:00;00&drop_frame=1&dept_id=4&"
         "folder=/f"},
        {"file", [](auto& c) { c.getFile(8); }, "/file", "&file_id=8"},
        {"remove file", [](auto& c) { c.removeFile(8, "a1"); }, "/apps/files/remove",
         "&file_id=8&app_id=a1"},
        {"file url", [](auto& c) { c.generateURLForFileWithID(4294967297); }, "/files/url",
         "&file_id=4294967297"},
        {"create folder", [](auto& c) { c.createFolder("A+B", 2, -1); }, "/folders/create",
         "&folder=A%20B&dept=-1&project_id=2"},
        {"create folders",
         [](auto& c) {
             c.createFolders({"a", "b c"}, 2, 6);
         },
         "/folders/create", "&folder=a;b%20c&dept=6&project_id=2"},
        {"metadata", [](auto& c) { c.metadataForFile(5); }, "/files/metadata", "&file_id=5"},
        {"set metadata",
         [](auto& c) {
             c.setMetadata({{"a", "x"}, {"b", "y"}}, 5);
         },
         "/files/metadata",
         "&file_id=5&metadata=a%3C%3D%7C%3D%3Ex%3C%3D%7C%3D%3Eb%3C%3D%7C%3D%3Ey"},
        {"set empty metadata", [](auto& c) { c.setMetadata({}, 5); }, "/files/metadata",
         "&file_id=5&metadata="},
        {"approve", [](auto& c) { c.approveFile(5, "ok"); }, "/files/approve",
         "&file_id=5&comment=ok"},
        {"reject", [](auto& c) { c.rejectFile(5, std::nullopt); }, "/files/reject", "&file_id=5"},
        {"comments", [](auto& c) { c.commentsForFileID(5); }, "/comments", "&file_id=5"},
        {"post comment", [](auto& c) { c.postComment("Hi", "00:01", 5); }, "/comments/create",
         "&file_id=5&body=Hi&timecode=00:01"},
        {"post comment colour 0", [](auto& c) { c.postComment("Hi", "00:01", 5, 0); },
         "/comments/create", "&file_id=5&body=Hi&timecode=00:01&color=0"},
        {"edit comment", [](auto& c) { c.editComment("New", "00:02", 6, 3); }, "/comments/edit",
         "&comment_id=6&body=New&timecode=00:02&color=3"},
        {"edit comment short", [](auto& c) { c.editComment("New", 6); }, "/comments/edit",
         "&comment_id=6&body=New"},
        {"remove comment", [](auto& c) { c.removeComment(6); }, "/comments/remove",
         "&comment_id=6"},
        {"playback", [](auto& c) { c.savePlaybackPosition(12.5, 5); }, "/files/playbackpos",
         "&position=12.500000&file_id=5"},
        {"sync ip", [](auto& c) { c.setSyncIP("10.0.0.2"); }, "/sync/localip", "&ip=10.0.0.2"},
        {"remote token", [](auto& c) { c.getRemoteControlToken(); }, "/remote/token", ""},
        {"sessions", [](auto& c) { c.sessionsForProject(3); }, "/sessions", "&project_id=3"},
        {"create session",
         [](auto& c) {
             c.createSession("S", {"a@x", "b@x"}, 3);
         },
         "/sessions/create", "&name=S&participants=a@x,b@x&project_id=3"},
        {"session file", [](auto& c) { c.setFileID(5, 2); }, "/sessions/fileid",
         "&file_id=5&session_id=2"},
        {"remove session", [](auto& c) { c.removeSession(2); }, "/sessions/remove", "&id=2"},
        {"users", [](auto& c) { c.usersForProject(3); }, "/users", "&project_id=3"},
        {"relationships", [](auto& c) { c.relationshipsForFile(5); }, "/relationships",
         "&file_id=5"},
        {"relationships typed",
         [](auto& c) {
             c.relationshipsForFile(5, {"a", "b"});
         },
         "/relationships", "&file_id=5&linktypes=a,b"},
        {"annotation", [](auto& c) { c.annotationWithID(4); }, "/annotation", "&annotation_id=4"},
        {"set annotation", [](auto& c) { c.setAnnotation("{\"p\":1}", 6); }, "/annotation",
         "&comment_id=6&data=%7B%22p%22:1%7D"},
        {"remove annotation", [](auto& c) { c.removeAnnotationWithID(4); }, "/annotation/remove",
         "&annotation_id=4"},
        {"temp code", [](auto& c) { c.generateTempActivationCode(); }, "/tempactivationcode",
         "&client_id=client-1"},
        {"token for temp code", [](auto& c) { c.fetchOAuthTokenForTempCode("c0de"); },
         "/fetchauthfromtempcode", "&temp_code=c0de&client_id=client-1"},
        {"can upload", [](auto& c) { c.canUploadToProject(3); }, "/files/canupload",
         "&project_id=3"},
        {"unique id", [](auto& c) { c.checkUniqueProjectID("P-1"); }, "/uniqueprojectid",
         "&unique_project_id=P-1"},
    };
    size_t sent = 0;
    for (const auto& endpoint : endpoints) {
        SCOPED_TRACE(endpoint.name);
        endpoint.call(*client);
        ASSERT_TRUE(loader->waitForCalls(++sent));
        const auto call = loader->calls().back();
        EXPECT_EQ(call.url, std::string("https://site.invalid/api/0") + endpoint.path);
        EXPECT_EQ(call.body, std::string(endpoint.body) + "&access_token=T");
        // Equal bodies would be answered from the cache.
        ASSERT_TRUE(pumpUntil([&] { return client->queuedOperationCount() == 0; }));
        cache.clearAll();
    }
}

TEST_F(QuorvaneEndpoints, ThumbnailsGoAsMultipartWithRandomNames) {
    client->uploadThumbnailImage(base::Data{0xff, 0xd8}, 21);
    ASSERT_TRUE(loader->waitForCalls(1));
    auto call = loader->calls()[0];
    EXPECT_EQ(call.url, "https://site.invalid/api/0/files/thumb");
    EXPECT_EQ(call.contentType, "multipart/form-data; boundary=axhTsLbOxNzArUD");
    const auto at = call.body.find("name=\"file\"; filename=\"");
    ASSERT_NE(at, std::string::npos);
    const std::string name = call.body.substr(at + 23, 36);
    EXPECT_EQ(name.substr(32), ".jpg");
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), 32u);
    EXPECT_NE(call.body.find("Content-Type: image/jpeg"), std::string::npos);
    EXPECT_NE(call.body.find("name=\"file_id\"\r\n\r\n21"), std::string::npos);

    client->uploadMultipleThumbnailImages({{"small", base::Data{1}}, {"large", base::Data{2}}}, 21);
    ASSERT_TRUE(loader->waitForCalls(2));
    call = loader->calls()[1];
    const auto small = call.body.find("name=\"small\"; filename=\"");
    const auto large = call.body.find("name=\"large\"; filename=\"");
    ASSERT_NE(small, std::string::npos);
    ASSERT_NE(large, std::string::npos);
    const std::string random = call.body.substr(small + 24, 32);
    EXPECT_EQ(call.body.substr(small + 24, 37), random + ".jpg\"");
    EXPECT_EQ(call.body.substr(large + 24, 43), random + "-large.jpg\"");
}

TEST_F(QuorvaneEndpoints, CreateProjectNeedsATitleAndALinkedAccount) {
    EXPECT_FALSE(client->createProject(std::nullopt, "d", "c", 1));
    EXPECT_TRUE(client->createProject("T", std::nullopt, "Acme", 0));
    ASSERT_TRUE(loader->waitForCalls(1));
    EXPECT_EQ(loader->calls()[0].body, "&title=T&status=0&client=Acme&access_token=T");
    account->unlink();
    EXPECT_FALSE(client->createProject("T", std::nullopt, std::nullopt, 0));
}

TEST_F(QuorvaneEndpoints, TwoMetadataReadsWithinTheirLifetimeSendOnce) {
    client->metadataForFile(5);
    client->metadataForFile(5);
    client->metadataForFile(6);
    ASSERT_TRUE(loader->waitForCalls(2));
    ASSERT_TRUE(pumpUntil([&] { return client->queuedOperationCount() == 0; }));
    EXPECT_EQ(loader->callCount(), 2u);
}

}  // namespace
