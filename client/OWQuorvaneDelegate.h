#pragma once
// What a service client tells its delegate. Every callback is optional: the defaults
// do nothing, so a delegate overrides only what it answers to. Request outcomes arrive
// on the main thread; a success result is null when the reply carried none.
#include <cstdint>

#include "base/Error.h"
#include "base/Value.h"

class OWQuorvane;

class OWQuorvaneDelegate {
  public:
    virtual ~OWQuorvaneDelegate() = default;

    // ---- request outcomes, one pair per context ----
    virtual void authorizationSuccessful(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void authorizationFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void projectsReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void populateProjectsFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void projectCreated(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void createProjectFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void revisionsReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void populateRevisionsFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void departmentsReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void populateDepartmentsFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void workflowsReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void populateWorkflowsFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void filesReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void populateFilesFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void foldersReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void populateFoldersFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void eventsReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void populateEventsFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void commentsReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void commentsFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void commentCreated(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void createCommentFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void commentEdited(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void editCommentFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void commentRemoved(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void removeCommentFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void syncIPSet(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void setSyncIPFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void remoteTokenReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void remoteTokenFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void fileUploaded(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void uploadFileFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void fileURLReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void fileURLFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void thumbnailUploadSuccessful(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void thumbnailUploadFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void metadataReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void metadataFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void canUpload(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void cannotUploadWithError(OWQuorvane&, const base::Error&) {}
    virtual void fileRemoved(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void fileRemoveFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void fileApproved(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void fileApprovalFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void fileRejected(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void fileRejectionFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void playbackPositionUpdated(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void playbackPositionFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void foldersCreated(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void createFoldersFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void uniqueProjectID(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void uniqueProjectIDFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void commentStreamCreated(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void createCommentStreamFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void sessionsReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void sessionsFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void sessionCreated(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void sessionCreationFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void sessionFileIDSet(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void sessionFileIDFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void sessionRemoved(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void sessionRemovalFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void usersReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void usersFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void fileReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void fileFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void relationshipsReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void relationshipsFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void annotationReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void annotationFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void annotationRemoved(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void removeAnnotationFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void tempActivationCodeReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void tempActivationCodeFailedWithError(OWQuorvane&, const base::Error&) {}
    virtual void authTokenFromTempCodeReceived(OWQuorvane&, const base::Value& /*result*/) {}
    virtual void authTokenFromTempCodeFailedWithError(OWQuorvane&, const base::Error&) {}

    // ---- client events ----
    // Upload progress: bytes sent since the previous report, and the settings of the
    // upload at the head of the client's upload list.
    virtual void didUploadBytes(OWQuorvane&, int64_t /*bytes*/, const base::Dictionary& /*file*/) {}
    // After every account reload or token change; on the thread that caused it.
    virtual void quorvaneOAuthStatusChanged(OWQuorvane&) {}
    // The client's queue has run empty; on the thread where it did.
    virtual void quorvaneProcessingFinished(OWQuorvane&) {}
    virtual void quorvaneAuthorizationFailed(const base::Error&) {}
};
