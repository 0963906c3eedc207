#pragma once
// Service clients against the stand-in service on loopback: a token controller linked
// through the stand-in's authorization page and /token, clients that reach it through
// the account view, the real URL loader, and a delegate that records every callback.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/OWQuorvane.h"
#include "client/OWQuorvaneCacheController.h"
#include "client/OWQuorvaneControllerAccount.h"
#include "tests/client/AuthTestSupport.h"
#include "tests/fakes/FakeService.h"

namespace peerquorvane {

using Fields = std::vector<std::pair<std::string, std::string>>;

// One callback as it arrived: its name, the result or the error, and its thread.
struct Callback {
    std::string name;
    base::Value result;
    std::optional<base::Error> error;
    bool onMain = false;
};

// Every success and failure callback of the delivery table, each recorded by name.
class RecordingDelegate : public OWQuorvaneDelegate {
  public:
// clang-format off
#define QV_SUCCESS(name) \
    void name(OWQuorvane&, const base::Value& r) override { add(#name, r, std::nullopt); }
#define QV_FAILURE(name) \
    void name(OWQuorvane&, const base::Error& e) override { add(#name, {}, e); }
    QV_SUCCESS(authorizationSuccessful) QV_FAILURE(authorizationFailedWithError)
    QV_SUCCESS(projectsReceived) QV_FAILURE(populateProjectsFailedWithError)
    QV_SUCCESS(projectCreated) QV_FAILURE(createProjectFailedWithError)
    QV_SUCCESS(revisionsReceived) QV_FAILURE(populateRevisionsFailedWithError)
    QV_SUCCESS(departmentsReceived) QV_FAILURE(populateDepartmentsFailedWithError)
    QV_SUCCESS(workflowsReceived) QV_FAILURE(populateWorkflowsFailedWithError)
    QV_SUCCESS(filesReceived) QV_FAILURE(populateFilesFailedWithError)
    QV_SUCCESS(foldersReceived) QV_FAILURE(populateFoldersFailedWithError)
    QV_SUCCESS(eventsReceived) QV_FAILURE(populateEventsFailedWithError)
    QV_SUCCESS(commentsReceived) QV_FAILURE(commentsFailedWithError)
    QV_SUCCESS(commentCreated) QV_FAILURE(createCommentFailedWithError)
    QV_SUCCESS(commentEdited) QV_FAILURE(editCommentFailedWithError)
    QV_SUCCESS(commentRemoved) QV_FAILURE(removeCommentFailedWithError)
    QV_SUCCESS(syncIPSet) QV_FAILURE(setSyncIPFailedWithError)
    QV_SUCCESS(remoteTokenReceived) QV_FAILURE(remoteTokenFailedWithError)
    QV_SUCCESS(fileUploaded) QV_FAILURE(uploadFileFailedWithError)
    QV_SUCCESS(fileURLReceived) QV_FAILURE(fileURLFailedWithError)
    QV_SUCCESS(thumbnailUploadSuccessful) QV_FAILURE(thumbnailUploadFailedWithError)
    QV_SUCCESS(metadataReceived) QV_FAILURE(metadataFailedWithError)
    QV_SUCCESS(canUpload) QV_FAILURE(cannotUploadWithError)
    QV_SUCCESS(fileRemoved) QV_FAILURE(fileRemoveFailedWithError)
    QV_SUCCESS(fileApproved) QV_FAILURE(fileApprovalFailedWithError)
    QV_SUCCESS(fileRejected) QV_FAILURE(fileRejectionFailedWithError)
    QV_SUCCESS(playbackPositionUpdated) QV_FAILURE(playbackPositionFailedWithError)
    QV_SUCCESS(foldersCreated) QV_FAILURE(createFoldersFailedWithError)
    QV_SUCCESS(uniqueProjectID) QV_FAILURE(uniqueProjectIDFailedWithError)
    QV_SUCCESS(commentStreamCreated) QV_FAILURE(createCommentStreamFailedWithError)
    QV_SUCCESS(sessionsReceived) QV_FAILURE(sessionsFailedWithError)
    QV_SUCCESS(sessionCreated) QV_FAILURE(sessionCreationFailedWithError)
    QV_SUCCESS(sessionFileIDSet) QV_FAILURE(sessionFileIDFailedWithError)
    QV_SUCCESS(sessionRemoved) QV_FAILURE(sessionRemovalFailedWithError)
    QV_SUCCESS(usersReceived) QV_FAILURE(usersFailedWithError)
    QV_SUCCESS(fileReceived) QV_FAILURE(fileFailedWithError)
    QV_SUCCESS(relationshipsReceived) QV_FAILURE(relationshipsFailedWithError)
    QV_SUCCESS(annotationReceived) QV_FAILURE(annotationFailedWithError)
    QV_SUCCESS(annotationRemoved) QV_FAILURE(removeAnnotationFailedWithError)
    QV_SUCCESS(tempActivationCodeReceived) QV_FAILURE(tempActivationCodeFailedWithError)
    QV_SUCCESS(authTokenFromTempCodeReceived) QV_FAILURE(authTokenFromTempCodeFailedWithError)
#undef QV_SUCCESS
#undef QV_FAILURE
        // clang-format on
        void quorvaneOAuthStatusChanged(OWQuorvane&) override {
        add("quorvaneOAuthStatusChanged", {}, std::nullopt);
    }

    std::vector<Callback> callbacks() const;
    size_t size() const;
    // Request outcomes only (the account callbacks left out).
    std::vector<Callback> outcomes() const;

  private:
    void add(std::string name, base::Value result, std::optional<base::Error> error);
    mutable std::mutex mutex_;
    std::vector<Callback> callbacks_;
};

class PeerQuorvaneTest : public authtest::AuthControllerTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A client on the shared controller, the real loader and the test's cache.
    std::shared_ptr<OWQuorvane> makeClient(const std::shared_ptr<OWQuorvaneDelegate>& delegate);
    // Follows the authorization page to the callback and waits for the token reply.
    void link();
    bool waitForRefreshToEnd();
    // The API's decoded request log, and the stand-in's raw one filtered by path.
    base::Array apiLog() const;
    base::Array rawLog(const std::string& path) const;
    static Fields fieldsOf(const base::Value& entry);
    // Pumps until the delegate holds `count` request outcomes.
    bool waitForOutcomes(const RecordingDelegate& delegate, size_t count, double seconds = 30);
    std::string token() const { return controller->oauthToken().value_or(""); }

    fakes::FakeService service{{"--client", std::string(authtest::kClientID) + ":" +
                                                OWQuorvaneAuthController::kOAuthPKey}};
    std::shared_ptr<OWQuorvaneCacheController> sharedCache =
        std::make_shared<OWQuorvaneCacheController>();
    OWQuorvaneCacheController& cache = *sharedCache;
    std::shared_ptr<OWQuorvaneControllerAccount> account;
};

// Skips (or, with CI=true, fails) the test when the stand-in cannot run.
#define QV_PEER_SETUP() QV_REQUIRE_SERVICE(service)

}  // namespace peerquorvane
