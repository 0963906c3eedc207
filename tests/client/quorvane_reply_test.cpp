// Reading replies, and which callback each context reaches.
#include <gtest/gtest.h>

#include "client/OWQuorvaneDeliveryTable.h"
#include "client/OWQuorvaneReply.h"
#include "client/json/QMJSON.h"

namespace {

using Kind = OWQuorvaneReply::Kind;

base::Data bytes(std::string_view text) {
    return base::Data(text.begin(), text.end());
}

std::string message(const OWQuorvaneReply& reply) {
    EXPECT_TRUE(reply.error);
    if (!reply.error) {
        return {};
    }
    EXPECT_EQ(reply.error->domain(), "OWQuorvaneErrorDomain");
    EXPECT_EQ(reply.error->code(), 0);
    return reply.error->userInfo().find("error")
               ? (*reply.error->userInfo().find("error")).stringValue()
               : std::string();
}

TEST(QuorvaneReply, JSONValuesOfAnyShapeAreResults) {
    auto reply = OWQuorvaneReply::read(bytes("[{\"id\":1,\"title\":\"A\"}]"), 200, false);
    EXPECT_EQ(reply.kind, Kind::Success);
    EXPECT_EQ(reply.result[0]["title"].stringValue(), "A");
    reply = OWQuorvaneReply::read(bytes("{\"id\":7}"), 201, false);
    EXPECT_EQ(reply.kind, Kind::Success);
    EXPECT_EQ(reply.result["id"].integerValue(), 7);
}

TEST(QuorvaneReply, UnreadableRepliesFailNamingTheServerInUse) {
    // Two end inside a string (a reply cut off in the middle of a title); the last two are
    // no UTF-8: a stray byte, and a list sent as UTF-16 with its byte order mark.
    using namespace std::string_view_literals;
    for (std::string_view body : {"<html><body>Bad gateway</body></html>"sv, ""sv, "{\"id\": "sv,
                                  "[1, 2"sv, "[{\"id\": 1, \"title\": \"Laun"sv, "{\"ti"sv,
                                  "[\xff\xfe]"sv, "\xff\xfe[\0{\0}\0]\0"sv}) {
        SCOPED_TRACE(body);
        auto hosted = OWQuorvaneReply::read(bytes(body), 200, false);
        EXPECT_EQ(hosted.kind, Kind::Failure);
        EXPECT_EQ(message(hosted), OWQuorvaneReply::kHostedServerError);
        auto own = OWQuorvaneReply::read(bytes(body), 0, true);
        EXPECT_EQ(message(own), OWQuorvaneReply::kSelfHostedServerError);
    }
    EXPECT_EQ(std::string(OWQuorvaneReply::kHostedServerError),
              "Server error. Please try again in a few minutes or report the problem to Oxbury "
              "Works if it persists.");
}

TEST(QuorvaneReply, OtherJSONErrorsPassThroughUnchanged) {
    const auto reply = OWQuorvaneReply::read(bytes("[1,]"), 200, false);
    ASSERT_EQ(reply.kind, Kind::Failure);
    EXPECT_EQ(reply.error->domain(), QMJSONErrorDomain);
    EXPECT_NE(reply.error->code(), 0);
}

TEST(QuorvaneReply, ServiceErrorsCarryTheWholeReply) {
    const auto reply =
        OWQuorvaneReply::read(bytes("{\"error\":\"No access\",\"code\":9}"), 404, false);
    ASSERT_EQ(reply.kind, Kind::Failure);
    EXPECT_EQ(reply.error->code(), 0);
    EXPECT_EQ(reply.error->userInfo(), (base::Dictionary{{"error", "No access"}, {"code", 9}}));
    const auto oauth = OWQuorvaneReply::read(
        bytes("{\"error\":\"expired\",\"error_type\":\"oauth\"}"), 200, false);
    EXPECT_EQ(oauth.kind, Kind::OAuthError);
    ASSERT_TRUE(oauth.error);
    EXPECT_EQ(oauth.error->userInfo().find("error_type")->stringValue(), "oauth");
    // Only the text "oauth" marks a token error.
    EXPECT_EQ(
        OWQuorvaneReply::read(bytes("{\"error\":1,\"error_type\":[\"oauth\"]}"), 200, false).kind,
        Kind::Failure);
}

TEST(QuorvaneReply, StatusesWithoutAnErrorKeyGetFixedTexts) {
    EXPECT_EQ(message(OWQuorvaneReply::read(bytes("{}"), 500, false)),
              "Server error. Please check your Quorvane Server Apache log file to see the cause.");
    EXPECT_EQ(message(OWQuorvaneReply::read(bytes("[]"), 404, true)),
              "Server not found. This could be a temporary error or you may be using an outdated "
              "version of the Quorvane API.");
    EXPECT_EQ(message(OWQuorvaneReply::read(bytes("{\"ok\":1}"), 403, false)),
              "Forbidden. Please check permissions on the API directory in your Quorvane Server "
              "installation directory.");
    EXPECT_EQ(OWQuorvaneReply::read(bytes("{}"), 401, false).kind, Kind::Success);
}

// ---- delivery table ----

using D = OWQuorvaneDelegate;
using T = OWQuorvaneDeliveryTable;

struct Row {
    const char* context;
    T::Success success;
    T::Failure failure;
};

TEST(QuorvaneDeliveryTable, EveryContextReachesItsPair) {
    const Row rows[] = {
        {"authenticate", &D::authorizationSuccessful, &D::authorizationFailedWithError},
        {"projects", &D::projectsReceived, &D::populateProjectsFailedWithError},
        {"projects/create", &D::projectCreated, &D::createProjectFailedWithError},
        {"projects/files/revisions", &D::revisionsReceived, &D::populateRevisionsFailedWithError},
        {"projects/departments", &D::departmentsReceived, &D::populateDepartmentsFailedWithError},
        {"projects/workflows", &D::workflowsReceived, &D::populateWorkflowsFailedWithError},
        {"projects/files", &D::filesReceived, &D::populateFilesFailedWithError},
        {"projects/files/video", &D::filesReceived, &D::populateFilesFailedWithError},
        {"projects/files/audiovideo", &D::filesReceived, &D::populateFilesFailedWithError},
        {"projects/files/audio", &D::filesReceived, &D::populateFilesFailedWithError},
        {"projects/folders", &D::foldersReceived, &D::populateFoldersFailedWithError},
        {"projects/events", &D::eventsReceived, &D::populateEventsFailedWithError},
        {"comments", &D::commentsReceived, &D::commentsFailedWithError},
        {"comments/create", &D::commentCreated, &D::createCommentFailedWithError},
        {"comments/edit", &D::commentEdited, &D::editCommentFailedWithError},
        {"comments/remove", &D::commentRemoved, &D::removeCommentFailedWithError},
        {"sync/localip", &D::syncIPSet, &D::setSyncIPFailedWithError},
        {"remote/token", &D::remoteTokenReceived, &D::remoteTokenFailedWithError},
        {"files/upload", &D::fileUploaded, &D::uploadFileFailedWithError},
        {"files/url", &D::fileURLReceived, &D::fileURLFailedWithError},
        {"files/thumb", &D::thumbnailUploadSuccessful, &D::thumbnailUploadFailedWithError},
        {"files/metadata", &D::metadataReceived, &D::metadataFailedWithError},
        {"files/canupload", &D::canUpload, &D::cannotUploadWithError},
        {"files/remove", &D::fileRemoved, &D::fileRemoveFailedWithError},
        {"files/approve", &D::fileApproved, &D::fileApprovalFailedWithError},
        {"files/reject", &D::fileRejected, &D::fileRejectionFailedWithError},
        {"files/playbackpos", &D::playbackPositionUpdated, &D::playbackPositionFailedWithError},
        {"folders/create", &D::foldersCreated, &D::createFoldersFailedWithError},
        {"uniqueprojectid", &D::uniqueProjectID, &D::uniqueProjectIDFailedWithError},
        {"commentstream/create", &D::commentStreamCreated, &D::createCommentStreamFailedWithError},
        {"sessions", &D::sessionsReceived, &D::sessionsFailedWithError},
        {"sessions/create", &D::sessionCreated, &D::sessionCreationFailedWithError},
        {"sessions/fileid", &D::sessionFileIDSet, &D::sessionFileIDFailedWithError},
        {"sessions/remove", &D::sessionRemoved, &D::sessionRemovalFailedWithError},
        {"users", &D::usersReceived, &D::usersFailedWithError},
        {"file", &D::fileReceived, &D::fileFailedWithError},
        {"relationships", &D::relationshipsReceived, &D::relationshipsFailedWithError},
        {"annotation", &D::annotationReceived, &D::annotationFailedWithError},
        {"annotation/remove", &D::annotationRemoved, &D::removeAnnotationFailedWithError},
        {"tempactivationcode", &D::tempActivationCodeReceived,
         &D::tempActivationCodeFailedWithError},
        {"fetchauthfromtempcode", &D::authTokenFromTempCodeReceived,
         &D::authTokenFromTempCodeFailedWithError},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.context);
        EXPECT_TRUE(T::successCallback(row.context) == row.success);
        EXPECT_TRUE(T::failureCallback(row.context) == row.failure);
    }
}

TEST(QuorvaneDeliveryTable, PrefixRowsAndExactRowsDiffer) {
    // Departments and workflows match by prefix for successes only.
    EXPECT_TRUE(T::successCallback("projects/departments/all") == &D::departmentsReceived);
    EXPECT_TRUE(T::failureCallback("projects/departments/all") == nullptr);
    EXPECT_TRUE(T::successCallback("projects/workflowsX") == &D::workflowsReceived);
    EXPECT_TRUE(T::failureCallback("projects/workflowsX") == nullptr);
    EXPECT_TRUE(T::failureCallback("projects/folders/tree") == &D::populateFoldersFailedWithError);
    // Exact rows take nothing longer; unknown contexts reach nobody.
    EXPECT_TRUE(T::successCallback("projectsX") == nullptr);
    EXPECT_TRUE(T::successCallback("files/upload/extra") == nullptr);
    EXPECT_TRUE(T::successCallback("") == nullptr);
    EXPECT_TRUE(T::failureCallback("nothing") == nullptr);
}

}  // namespace
