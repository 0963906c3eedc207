#include "client/OWQuorvaneDeliveryTable.h"

#include <array>

namespace {

enum class Match { Exact, Prefix };

struct Row {
    std::string_view context;
    Match successTest;
    Match failureTest;
    OWQuorvaneDeliveryTable::Success success;
    OWQuorvaneDeliveryTable::Failure failure;
};

using D = OWQuorvaneDelegate;

// clang-format off
constexpr std::array kRows = {
    Row{"authenticate", Match::Exact, Match::Exact, &D::authorizationSuccessful, &D::authorizationFailedWithError},
    Row{"projects", Match::Exact, Match::Exact, &D::projectsReceived, &D::populateProjectsFailedWithError},
    Row{"projects/create", Match::Exact, Match::Exact, &D::projectCreated, &D::createProjectFailedWithError},
    Row{"projects/files/revisions", Match::Exact, Match::Exact, &D::revisionsReceived, &D::populateRevisionsFailedWithError},
    Row{"projects/departments", Match::Prefix, Match::Exact, &D::departmentsReceived, &D::populateDepartmentsFailedWithError},
    Row{"projects/workflows", Match::Prefix, Match::Exact, &D::workflowsReceived, &D::populateWorkflowsFailedWithError},
    Row{"projects/files", Match::Prefix, Match::Prefix, &D::filesReceived, &D::populateFilesFailedWithError},
    Row{"projects/folders", Match::Prefix, Match::Prefix, &D::foldersReceived, &D::populateFoldersFailedWithError},
    Row{"projects/events", Match::Prefix, Match::Prefix, &D::eventsReceived, &D::populateEventsFailedWithError},
    Row{"comments", Match::Exact, Match::Exact, &D::commentsReceived, &D::commentsFailedWithError},
    Row{"comments/create", Match::Exact, Match::Exact, &D::commentCreated, &D::createCommentFailedWithError},
    Row{"comments/edit", Match::Exact, Match::Exact, &D::commentEdited, &D::editCommentFailedWithError},
    Row{"comments/remove", Match::Exact, Match::Exact, &D::commentRemoved, &D::removeCommentFailedWithError},
    Row{"sync/localip", Match::Exact, Match::Exact, &D::syncIPSet, &D::setSyncIPFailedWithError},
    Row{"remote/token", Match::Exact, Match::Exact, &D::remoteTokenReceived, &D::remoteTokenFailedWithError},
    Row{"files/upload", Match::Exact, Match::Exact, &D::fileUploaded, &D::uploadFileFailedWithError},
    Row{"files/url", Match::Exact, Match::Exact, &D::fileURLReceived, &D::fileURLFailedWithError},
    Row{"files/thumb", Match::Exact, Match::Exact, &D::thumbnailUploadSuccessful, &D::thumbnailUploadFailedWithError},
    Row{"files/metadata", Match::Exact, Match::Exact, &D::metadataReceived, &D::metadataFailedWithError},
    Row{"files/canupload", Match::Exact, Match::Exact, &D::canUpload, &D::cannotUploadWithError},
    Row{"files/remove", Match::Exact, Match::Exact, &D::fileRemoved, &D::fileRemoveFailedWithError},
    Row{"files/approve", Match::Exact, Match::Exact, &D::fileApproved, &D::fileApprovalFailedWithError},
    Row{"files/reject", Match::Exact, Match::Exact, &D::fileRejected, &D::fileRejectionFailedWithError},
    Row{"files/playbackpos", Match::Exact, Match::Exact, &D::playbackPositionUpdated, &D::playbackPositionFailedWithError},
    Row{"folders/create", Match::Exact, Match::Exact, &D::foldersCreated, &D::createFoldersFailedWithError},
    Row{"uniqueprojectid", Match::Exact, Match::Exact, &D::uniqueProjectID, &D::uniqueProjectIDFailedWithError},
    Row{"commentstream/create", Match::Exact, Match::Exact, &D::commentStreamCreated, &D::createCommentStreamFailedWithError},
    Row{"sessions", Match::Exact, Match::Exact, &D::sessionsReceived, &D::sessionsFailedWithError},
    Row{"sessions/create", Match::Exact, Match::Exact, &D::sessionCreated, &D::sessionCreationFailedWithError},
    Row{"sessions/fileid", Match::Exact, Match::Exact, &D::sessionFileIDSet, &D::sessionFileIDFailedWithError},
    Row{"sessions/remove", Match::Exact, Match::Exact, &D::sessionRemoved, &D::sessionRemovalFailedWithError},
    Row{"users", Match::Exact, Match::Exact, &D::usersReceived, &D::usersFailedWithError},
    Row{"file", Match::Exact, Match::Exact, &D::fileReceived, &D::fileFailedWithError},
    Row{"relationships", Match::Exact, Match::Exact, &D::relationshipsReceived, &D::relationshipsFailedWithError},
    Row{"annotation", Match::Exact, Match::Exact, &D::annotationReceived, &D::annotationFailedWithError},
    Row{"annotation/remove", Match::Exact, Match::Exact, &D::annotationRemoved, &D::removeAnnotationFailedWithError},
    Row{"tempactivationcode", Match::Exact, Match::Exact, &D::tempActivationCodeReceived, &D::tempActivationCodeFailedWithError},
    Row{"fetchauthfromtempcode", Match::Exact, Match::Exact, &D::authTokenFromTempCodeReceived, &D::authTokenFromTempCodeFailedWithError},};
// clang-format on

bool passes(std::string_view context, std::string_view rowContext, Match test) {
    return test == Match::Exact ? context == rowContext : context.starts_with(rowContext);
}

}  // namespace

OWQuorvaneDeliveryTable::Success OWQuorvaneDeliveryTable::successCallback(
    std::string_view context) {
    for (const auto& row : kRows) {
        if (passes(context, row.context, row.successTest)) {
            return row.success;
        }
    }
    return nullptr;
}

OWQuorvaneDeliveryTable::Failure OWQuorvaneDeliveryTable::failureCallback(
    std::string_view context) {
    for (const auto& row : kRows) {
        if (passes(context, row.context, row.failureTest)) {
            return row.failure;
        }
    }
    return nullptr;
}
