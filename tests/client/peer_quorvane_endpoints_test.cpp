// Every endpoint operation against the stand-in service: the address it reaches, the
// fields the service decodes from its body (in order, the access token last), and the
// callback its reply is delivered to.
#include <gtest/gtest.h>

#include <functional>

#include "tests/client/PeerQuorvaneSupport.h"

namespace {

using peerquorvane::Fields;
using peerquorvane::RecordingDelegate;

struct Endpoint {
    const char* name;
    std::function<void(OWQuorvane&)> call;
    const char* path;
    Fields fields;  // without the access token
    const char* callback;
};

class PeerQuorvaneEndpoints : public peerquorvane::PeerQuorvaneTest {};

TEST_F(PeerQuorvaneEndpoints, EveryOperationReachesItsPathWithItsFieldsAndItsCallback) {
    QV_PEER_SETUP();
    link();
    auto delegate = std::make_shared<RecordingDelegate>();
    auto client = makeClient(delegate);
    const std::string site = service.url();

    const Endpoint endpoints[] = {
        {"createProject",
         [](auto& c) { c.createProject("Film & TV", "About", std::nullopt, 2); },
         "/projects/create",
         {{"title", "Film & TV"}, {"status", "2"}, {"description", "About"}},
         "projectCreated"},
        {"projects",
         [](auto& c) { c.populateProjects(); },
         "/projects",
         {{"privateStorage", "0"}},
         "projectsReceived"},
        {"projects private",
         [](auto& c) { c.populateProjects(true); },
         "/projects",
         {{"privateStorage", "1"}},
         "projectsReceived"},
        {"departments",
         [](auto& c) { c.populateDepartmentsForProjectID(1); },
         "/projects/departments",
         {{"project_id", "1"}},
         "departmentsReceived"},
        {"workflows",
         [](auto& c) { c.populateFileWorkflowsForProjectID(1); },
         "/projects/workflows",
         {{"project_id", "1"}},
         "workflowsReceived"},
        {"video",
         [](auto& c) { c.populateVideoFilesForProjectID(1); },
         "/projects/files/video",
         {{"project_id", "1"}, {"dept", "-1"}, {"parent", "/"}},
         "filesReceived"},
        {"video full",
         [](auto& c) { c.populateVideoFilesForProjectID(1, true, true, "/a b", 3, true, true); },
         "/projects/files/video",
         {{"project_id", "1"},
          {"dept", "3"},
          {"thumbs", "1"},
          {"folders", "1"},
          {"parent", "/a b"},
          {"depts", "1"},
          {"commentstreams", "1"}},
         "filesReceived"},
        {"audiovideo",
         [](auto& c) {
             c.populateAudioVideoFilesForProjectID(1, false, false, std::nullopt, 2, false, true,
                                                   {{"sort", "name"}});
         },
         "/projects/files/audiovideo",
         {{"project_id", "1"}, {"dept", "2"}, {"commentstreams", "1"}, {"sort", "name"}},
         "filesReceived"},
        {"files",
         [](auto& c) { c.populateFilesForProjectID(1, true, false, "/", -1, false, {}); },
         "/projects/files",
         {{"project_id", "1"}, {"dept", "-1"}, {"thumbs", "1"}, {"parent", "/"}},
         "filesReceived"},
        {"files for app",
         [](auto& c) { c.populateFilesForApp("app7", "/in"); },
         "/apps/files",
         {{"project_id", "-1"}, {"dept", "-1"}, {"parent", "/in"}, {"app_id", "app7"}},
         "filesReceived"},
        {"folders",
         [](auto& c) { c.populateFoldersForProjectID(1, "/", 2, true); },
         "/projects/folders",
         {{"project_id", "1"}, {"dept", "2"}, {"subfolders", "1"}, {"parent", "/"}},
         "foldersReceived"},
        {"revisions",
         [](auto& c) { c.populateRevisionsForFile(31, true); },
         "/projects/files/revisions",
         {{"file_id", "31"}, {"thumbs", "1"}},
         "revisionsReceived"},
        {"events",
         [](auto& c) { c.populateAllEvents(); },
         "/projects/events",
         {},
         "eventsReceived"},
        {"events since",
         [](auto& c) { c.populateAllEventsSinceDate(base::Date{1699999999.5}); },
         "/projects/events",
         {{"since", "1700000000"}},
         "eventsReceived"},
        {"comment stream",
         [](auto& c) { c.createCommentStream("Cut", 1, 11, "/f", 29.97f, "01:00:00;00", true); },
         "/commentstream/create",
         {{"project_id", "1"},
          {"title", "Cut"},
          {"frame_rate", "29.97"},
          {"timecode", "01:00:00;00"},
          {"drop_frame", "1"},
          {"dept_id", "11"},
          {"folder", "/f"}},
         "commentStreamCreated"},
        {"file", [](auto& c) { c.getFile(31); }, "/file", {{"file_id", "31"}}, "fileReceived"},
        {"file url",
         [](auto& c) { c.generateURLForFileWithID(4294967297); },
         "/files/url",
         {{"file_id", "4294967297"}},
         "fileURLReceived"},
        {"create folder",
         [](auto& c) { c.createFolder("A+B", 1, -1); },
         "/folders/create",
         {{"folder", "A B"}, {"dept", "-1"}, {"project_id", "1"}},
         "foldersCreated"},
        {"create folders",
         [](auto& c) {
             c.createFolders({"x", "y z"}, 1, 11);
         },
         "/folders/create",
         {{"folder", "x;y z"}, {"dept", "11"}, {"project_id", "1"}},
         "foldersCreated"},
        {"metadata",
         [](auto& c) { c.metadataForFile(31); },
         "/files/metadata",
         {{"file_id", "31"}},
         "metadataReceived"},
        {"set metadata",
         [](auto& c) {
             c.setMetadata({{"a", "x=1"}, {"b", "y?"}}, 31);
         },
         "/files/metadata",
         {{"file_id", "31"}, {"metadata", "a<=|=>x=1<=|=>b<=|=>y?"}},
         "metadataReceived"},
        {"approve",
         [](auto& c) { c.approveFile(31, "ok +1"); },
         "/files/approve",
         {{"file_id", "31"}, {"comment", "ok +1"}},
         "fileApproved"},
        {"reject",
         [](auto& c) { c.rejectFile(31, std::nullopt); },
         "/files/reject",
         {{"file_id", "31"}},
         "fileRejected"},
        {"post comment",
         [](auto& c) { c.postComment("Hi \"there\"", "00:01", 31, 0); },
         "/comments/create",
         {{"file_id", "31"}, {"body", "Hi \"there\""}, {"timecode", "00:01"}, {"color", "0"}},
         "commentCreated"},
        {"comments",
         [](auto& c) { c.commentsForFileID(31); },
         "/comments",
         {{"file_id", "31"}},
         "commentsReceived"},
        {"edit unknown comment",
         [](auto& c) { c.editComment("New", "00:02", 6, 3); },
         "/comments/edit",
         {{"comment_id", "6"}, {"body", "New"}, {"timecode", "00:02"}, {"color", "3"}},
         "editCommentFailedWithError"},
        {"remove comment",
         [](auto& c) { c.removeComment(6); },
         "/comments/remove",
         {{"comment_id", "6"}},
         "commentRemoved"},
        {"playback",
         [](auto& c) { c.savePlaybackPosition(12.5, 31); },
         "/files/playbackpos",
         {{"position", "12.500000"}, {"file_id", "31"}},
         "playbackPositionUpdated"},
        {"sync ip",
         [](auto& c) { c.setSyncIP("10.0.0.2"); },
         "/sync/localip",
         {{"ip", "10.0.0.2"}},
         "syncIPSet"},
        {"remote token",
         [](auto& c) { c.getRemoteControlToken(); },
         "/remote/token",
         {},
         "remoteTokenReceived"},
        {"create session",
         [](auto& c) {
             c.createSession("S", {"a@x", "b@x"}, 1);
         },
         "/sessions/create",
         {{"name", "S"}, {"participants", "a@x,b@x"}, {"project_id", "1"}},
         "sessionCreated"},
        {"sessions",
         [](auto& c) { c.sessionsForProject(1); },
         "/sessions",
         {{"project_id", "1"}},
         "sessionsReceived"},
        {"session file",
         [](auto& c) { c.setFileID(31, 999); },
         "/sessions/fileid",
         {{"file_id", "31"}, {"session_id", "999"}},
         "sessionFileIDFailedWithError"},
        {"remove session",
         [](auto& c) { c.removeSession(999); },
         "/sessions/remove",
         {{"id", "999"}},
         "sessionRemoved"},
        {"users",
         [](auto& c) { c.usersForProject(1); },
         "/users",
         {{"project_id", "1"}},
         "usersReceived"},
        {"relationships",
         [](auto& c) {
             c.relationshipsForFile(31, {"a", "b"});
         },
         "/relationships",
         {{"file_id", "31"}, {"linktypes", "a,b"}},
         "relationshipsReceived"},
        {"set annotation",
         [](auto& c) { c.setAnnotation("{\"p\":[1,2]}", 6); },
         "/annotation",
         {{"comment_id", "6"}, {"data", "{\"p\":[1,2]}"}},
         "annotationReceived"},
        {"unknown annotation",
         [](auto& c) { c.annotationWithID(4); },
         "/annotation",
         {{"annotation_id", "4"}},
         "annotationFailedWithError"},
        {"remove annotation",
         [](auto& c) { c.removeAnnotationWithID(4); },
         "/annotation/remove",
         {{"annotation_id", "4"}},
         "annotationRemoved"},
        {"temp code",
         [](auto& c) { c.generateTempActivationCode(); },
         "/tempactivationcode",
         {{"client_id", authtest::kClientID}},
         "tempActivationCodeReceived"},
        {"token for temp code",
         [](auto& c) { c.fetchOAuthTokenForTempCode("c0de"); },
         "/fetchauthfromtempcode",
         {{"temp_code", "c0de"}, {"client_id", authtest::kClientID}},
         "authTokenFromTempCodeFailedWithError"},
        {"can upload",
         [](auto& c) { c.canUploadToProject(1); },
         "/files/canupload",
         {{"project_id", "1"}},
         "canUpload"},
        {"unique id",
         [](auto& c) { c.checkUniqueProjectID("P-1"); },
         "/uniqueprojectid",
         {{"unique_project_id", "P-1"}},
         "uniqueProjectID"},
        {"remove file",
         [](auto& c) { c.removeFile(31, "a1"); },
         "/apps/files/remove",
         {{"file_id", "31"}, {"app_id", "a1"}},
         "fileRemoved"},
    };
    size_t done = 0;
    for (const Endpoint& endpoint : endpoints) {
        SCOPED_TRACE(endpoint.name);
        endpoint.call(*client);
        ++done;
        ASSERT_TRUE(waitForOutcomes(*delegate, done));
        const auto outcome = delegate->outcomes().back();
        EXPECT_EQ(outcome.name, endpoint.callback);
        EXPECT_TRUE(outcome.onMain);
        EXPECT_EQ(client->lastURL(), site + "/api/0" + endpoint.path);

        const base::Array log = apiLog();
        ASSERT_EQ(log.size(), done);
        EXPECT_EQ(log.back()["path"].stringValue(), std::string("/api/0") + endpoint.path);
        EXPECT_EQ(log.back()["content_type"].stringValue(), "application/x-www-form-urlencoded");
        Fields expected = endpoint.fields;
        expected.emplace_back("access_token", token());
        EXPECT_EQ(fieldsOf(log.back()), expected);
        // Equal requests later in the walk would be answered from the reply cache.
        cache.clearAll();
    }
}

TEST_F(PeerQuorvaneEndpoints, ThumbnailsArriveAsMultipartThatAStandardParserReads) {
    QV_PEER_SETUP();
    link();
    auto delegate = std::make_shared<RecordingDelegate>();
    auto client = makeClient(delegate);
    client->uploadThumbnailImage(base::Data{0xff, 0xd8, 0x00, 0x0d, 0x0a, 0xff, 0xd9}, 31);
    ASSERT_TRUE(waitForOutcomes(*delegate, 1));
    client->uploadMultipleThumbnailImages({{"small", base::Data{1}}, {"large", base::Data{2, 3}}},
                                          31);
    ASSERT_TRUE(waitForOutcomes(*delegate, 2));
    for (const auto& outcome : delegate->outcomes()) {
        EXPECT_EQ(outcome.name, "thumbnailUploadSuccessful");
    }

    const base::Array log = apiLog();
    ASSERT_EQ(log.size(), 2u);
    for (const base::Value& entry : log) {
        EXPECT_EQ(entry["path"].stringValue(), "/api/0/files/thumb");
        EXPECT_EQ(entry["content_type"].stringValue(),
                  "multipart/form-data; boundary=axhTsLbOxNzArUD");
        EXPECT_EQ(fieldsOf(entry), (Fields{{"file_id", "31"}, {"access_token", token()}}));
    }
    const base::Value& one = log[size_t{0}]["files"];
    ASSERT_EQ(one.array()->size(), 1u);
    EXPECT_EQ(one[size_t{0}]["field"].stringValue(), "file");
    EXPECT_EQ(one[size_t{0}]["type"].stringValue(), "image/jpeg");
    EXPECT_EQ(one[size_t{0}]["size"].integerValue(), 7);  // the bytes unchanged, CR LF and all
    const base::Value& two = log[size_t{1}]["files"];
    ASSERT_EQ(two.array()->size(), 2u);
    const std::string small = two[size_t{0}]["filename"].stringValue();
    EXPECT_EQ(two[size_t{0}]["field"].stringValue(), "small");
    EXPECT_EQ(two[size_t{1}]["field"].stringValue(), "large");
    EXPECT_EQ(two[size_t{1}]["filename"].stringValue(),
              small.substr(0, small.size() - 4) + "-large.jpg");
    EXPECT_EQ(two[size_t{1}]["size"].integerValue(), 2);
}

TEST_F(PeerQuorvaneEndpoints, AWriteMakesTheNextListAskTheServiceAgain) {
    QV_PEER_SETUP();
    link();
    auto delegate = std::make_shared<RecordingDelegate>();
    auto client = makeClient(delegate);
    client->populateProjects();
    ASSERT_TRUE(waitForOutcomes(*delegate, 1));
    client->populateProjects();  // from the cache
    ASSERT_TRUE(waitForOutcomes(*delegate, 2));
    EXPECT_EQ(apiLog().size(), 1u);
    EXPECT_EQ(delegate->outcomes()[1].result, delegate->outcomes()[0].result);

    client->createProject("Fresh", std::nullopt, std::nullopt, 1);
    ASSERT_TRUE(waitForOutcomes(*delegate, 3));
    client->populateProjects();
    ASSERT_TRUE(waitForOutcomes(*delegate, 4));
    EXPECT_EQ(apiLog().size(), 3u);
    const base::Value list = delegate->outcomes()[3].result;
    ASSERT_TRUE(list.array());
    EXPECT_EQ(list.array()->back()["title"].stringValue(), "Fresh");
}

}  // namespace
