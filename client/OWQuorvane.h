#pragma once
// The service client. Every window or application object that talks to the service
// makes and owns its own; clients share only the process-wide token controller
// (through OWQuorvaneAccount), the reply cache and the keychain store.
//
// A client owns one serial request queue. It starts suspended, is suspended whenever a
// token request starts ("OWQuorvanePauseQueue") and resumed when the account settings
// are reloaded or a token request ends ("OWQuorvaneUpdateSettings",
// "OWQuorvaneOAuthChanged"). API calls are built on the caller's thread, sent one at a
// time on the queue's worker and their outcomes delivered to the delegate on the main
// thread. Once the client goes away it delivers nothing more.
//
// Made by create(), because setting up can already call the delegate.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Bundle.h"
#include "base/Error.h"
#include "base/NotificationCenter.h"
#include "base/OperationQueue.h"
#include "base/Value.h"
#include "client/OWQuorvaneAccount.h"
#include "client/OWQuorvaneDelegate.h"
#include "client/OWQuorvaneRequest.h"
#include "client/OWQuorvaneURLLoading.h"
#include "client/OWQuorvaneUtilities.h"

class OWQuorvaneCacheController;
class OWQuorvaneCore;
class OWQuorvaneUploadTransfer;

// The class helpers (randomString(), sanitizeFilename(), fileMIMEType(), the file-kind
// tests, resizeImage()) come from OWQuorvaneUtilities.
class OWQuorvane : public std::enable_shared_from_this<OWQuorvane>, public OWQuorvaneUtilities {
  public:
    static constexpr const char* kUpdateSettingsNotification = "OWQuorvaneUpdateSettings";
    static constexpr const char* kOAuthChangedNotification = "OWQuorvaneOAuthChanged";
    static constexpr const char* kPauseQueueNotification = "OWQuorvanePauseQueue";
    static constexpr const char* kKeychainService = "com.oxburyworks.quorvane";
    static constexpr const char* kAppIDKey = "OWQAppID";

    // What a client works with; every missing member takes the process's own.
    struct Services {
        std::shared_ptr<OWQuorvaneAccount> account;
        std::shared_ptr<OWQuorvaneURLLoading> loader;
        std::shared_ptr<OWQuorvaneCacheController> cache;
        std::shared_ptr<base::NotificationCenter> center;
        std::shared_ptr<const base::Bundle> bundle;  // where OWQAppID is read
    };

    // `delegate` is not retained.
    static std::shared_ptr<OWQuorvane> create(
        const std::shared_ptr<OWQuorvaneDelegate>& delegate = {});
    static std::shared_ptr<OWQuorvane> create(const std::shared_ptr<OWQuorvaneDelegate>& delegate,
                                              Services services);
    ~OWQuorvane();
    OWQuorvane(const OWQuorvane&) = delete;
    OWQuorvane& operator=(const OWQuorvane&) = delete;

    // ---- delegate ----
    void assignDelegate(const std::shared_ptr<OWQuorvaneDelegate>& delegate);
    void unassignDelegate();
    void setDelegate(const std::shared_ptr<OWQuorvaneDelegate>& delegate) {
        assignDelegate(delegate);
    }
    std::shared_ptr<OWQuorvaneDelegate> delegate() const;

    // ---- account ----
    // A token is held and is either still valid or being refreshed.
    bool isLinked() const;
    // A token is held and is still valid.
    bool isReady() const;
    std::optional<std::string> username() const;
    // Unless a token refresh is in flight: reloads the stored account, then oauthChanged().
    void loadSavedSettings();
    void saveSettings();
    void revokeAuthorization();
    std::string siteURLString() const;
    // The site address with "/api/0" (and one "/" between).
    std::string apiURLString() const;
    // A self-hosted server is in use.
    bool isQuorvServer() const;

    // ---- queue ----
    void pauseQueue();
    // Brings the reply cache to the current user and server, resumes the queue and
    // tells the delegate.
    void oauthChanged();
    void cancelCurrentOperation();
    void cancelAllOperations();
    // Queues any operation behind the API calls already queued (uploads use this).
    void addOperationToQueue(std::shared_ptr<base::Operation> operation);
    bool isQueueSuspended() const;
    size_t queuedOperationCount() const;
    // The operations waiting in or running on the queue, oldest first.
    std::vector<std::shared_ptr<base::Operation>> queuedOperations() const;

    // ---- properties ----
    bool isUnloading() const;
    std::optional<std::string> sourceAppID() const;
    std::optional<std::string> lastURL() const;
    bool shouldExpectAdditionalTasks() const { return shouldExpectAdditionalTasks_.load(); }
    void setShouldExpectAdditionalTasks(bool on) { shouldExpectAdditionalTasks_.store(on); }

    // ---- the upload list: settings of queued and running uploads, head first ----
    std::vector<base::Dictionary> uploadQueueSettings() const;
    void appendUploadSettings(base::Dictionary settings);
    std::optional<base::Dictionary> takeUploadSettingsHead();
    // Progress of the upload at the head of the list; negative counts are ignored.
    void reportUploadedBytes(int64_t bytes);

    // ---- other operations ----
    void postAuthenticationError();
    bool setKeychainString(const std::optional<std::string>& value, const std::string& key);
    static std::string sha1(std::string_view text);
    static std::string sha512(std::string_view text);
    void showAlertForError(const base::Error& error) const;
    static void showAlert(const std::string& text);

    // ---- the request road ----
    void postURL(const std::string& url, base::Dictionary params, const std::string& context);
    // One file under the field "file"; without bytes or name, a form request.
    void postURL(const std::string& url, base::Dictionary params,
                 const std::optional<base::Data>& data, const std::string& mimeType,
                 const std::optional<std::string>& filename, const std::string& context);
    void postURL(const std::string& url, base::Dictionary params,
                 const std::optional<base::Dictionary>& filesData, const std::string& mimeType,
                 const std::optional<base::Dictionary>& filenames, const std::string& context,
                 bool overrideAuth = false);
    // The builder every postURL() form reaches.
    void postRequest(OWQuorvaneRequest request);
    void addRequestToQueue(OWQuorvaneRequest request);
    static std::string sanitizeURLParameter(std::string_view value) {
        return OWQuorvaneRequest::sanitizeURLParameter(value);
    }
    // Reads a reply that did not come through the queue (form uploads) and delivers it.
    void processReturnedData(const base::Data& data, const std::string& context, int statusCode,
                             const std::string& url);
    // The failure road: drops nothing from the cache (no body), delivers on the main thread.
    void postError(const base::Error& error, const std::string& context);

    // Main-thread delivery through the context's row of the delivery table.
    void postSuccessOnMainThread(const base::Value& result, const std::string& context);
    void postErrorOnMainThread(const base::Error& error, const std::string& context);

    // ---- endpoints ----
    bool createProject(const std::optional<std::string>& title,
                       const std::optional<std::string>& description,
                       const std::optional<std::string>& client, int64_t status);
    void populateProjects();
    void populateProjects(bool privateStorage);
    void populateDepartmentsForProjectID(int64_t projectID);
    void populateFileWorkflowsForProjectID(int64_t projectID);
    void populateVideoFilesForProjectID(int64_t projectID, bool thumbnails = false);
    void populateVideoFilesForProjectID(int64_t projectID, bool thumbnails, bool folders,
                                        const std::optional<std::string>& parentFolder,
                                        int64_t departmentID, bool showDepts = false,
                                        bool showCommentStreams = false);
    void populateAudioVideoFilesForProjectID(int64_t projectID, bool thumbnails, bool folders,
                                             const std::optional<std::string>& parentFolder,
                                             int64_t departmentID, bool showDepts,
                                             bool showCommentStreams,
                                             const base::Dictionary& settings = {});
    void populateFilesForProjectID(int64_t projectID, bool thumbnails, bool folders,
                                   const std::optional<std::string>& parentFolder,
                                   int64_t departmentID, bool showDepts,
                                   const std::optional<std::string>& appID,
                                   const base::Dictionary& settings = {});
    void populateFilesForApp(const std::string& appID, const std::optional<std::string>& folder);
    void populateFoldersForProjectID(int64_t projectID,
                                     const std::optional<std::string>& parentFolder,
                                     int64_t departmentID, bool subfolders);
    void populateRevisionsForFile(int64_t fileID, bool thumbnails);
    void populateAllEvents();
    void populateAllEventsSinceDate(const std::optional<base::Date>& date);
    void createCommentStream(const std::string& title, int64_t projectID, int64_t departmentID,
                             const std::string& folder, float fps, const std::string& timecode,
                             bool dropFrame);
    void getFile(int64_t fileID);
    void removeFile(int64_t fileID, const std::string& appID);
    void generateURLForFileWithID(int64_t fileID);
    void createFolder(const std::string& name, int64_t projectID, int64_t departmentID);
    void createFolders(const std::vector<std::string>& names, int64_t projectID,
                       int64_t departmentID);
    // `jpeg` is the encoded thumbnail, sent as it is.
    void uploadThumbnailImage(const base::Data& jpeg, int64_t fileID);
    // Size name to encoded JPEG; "small" goes under the plain random name.
    void uploadMultipleThumbnailImages(const base::Dictionary& images, int64_t fileID);
    void metadataForFile(int64_t fileID);
    void setMetadata(const base::Dictionary& metadata, int64_t fileID);
    void approveFile(int64_t fileID, const std::optional<std::string>& comment);
    void rejectFile(int64_t fileID, const std::optional<std::string>& comment);
    void commentsForFileID(int64_t fileID);
    void postComment(const std::string& body, const std::string& timecode, int64_t fileID,
                     int64_t colorID = -1);
    void editComment(const std::string& body, const std::optional<std::string>& timecode,
                     int64_t commentID, int64_t colorID = -1);
    void editComment(const std::string& body, int64_t commentID);
    void removeComment(int64_t commentID);
    void savePlaybackPosition(double position, int64_t fileID);
    void setSyncIP(const std::string& address);
    void getRemoteControlToken();
    void sessionsForProject(int64_t projectID);
    void createSession(const std::string& name, const std::vector<std::string>& participants,
                       int64_t projectID);
    void setFileID(int64_t fileID, int64_t sessionID);
    void removeSession(int64_t sessionID);
    void usersForProject(int64_t projectID);
    void relationshipsForFile(int64_t fileID, const std::vector<std::string>& types = {});
    void annotationWithID(int64_t annotationID);
    void setAnnotation(const std::string& data, int64_t commentID);
    void removeAnnotationWithID(int64_t annotationID);
    void generateTempActivationCode();
    void fetchOAuthTokenForTempCode(const std::string& code);
    void canUploadToProject(int64_t projectID);
    void checkUniqueProjectID(const std::string& uniqueProjectID);

    // ==== uploads: a file, or a folder or package sent as a zip archive ====
    // Nothing happens unless linked, with a path and a project id other than 0. The
    // outcome is fileUploaded() or uploadFileFailedWithError(); progress arrives
    // through didUploadBytes() with the upload's settings.
    static constexpr const char* kSegmentedUploadsDefault = "segmentedUploads";
    static constexpr double kStorageTimeOutSeconds = 300.0;
    static constexpr double kServerTimeOutSeconds = 180.0;
    static constexpr int kServerRetries = 3;
    static constexpr double kThumbnailWidth = 120.0;
    static constexpr double kThumbnailQuality = 0.8;

    void uploadFile(const std::string& path, int64_t projectID,
                    const std::optional<std::string>& parentFolder,
                    const std::optional<std::string>& title);
    // The longer forms; defaults fill in what each shorter one leaves out. This one
    // answers whether the upload started: when it did not, no outcome will follow.
    bool uploadFile(const std::string& path, int64_t projectID,
                    const std::optional<std::string>& parentFolder, int64_t departmentID,
                    const std::optional<std::string>& title,
                    const std::optional<std::string>& description, float frameRate,
                    const std::optional<std::string>& timecodeStart, uint64_t duration,
                    bool autoRevise = false, const std::vector<std::string>& linkEmails = {},
                    bool allowComments = true, const std::optional<std::string>& appID = {},
                    bool notifyUsers = true, const base::Dictionary& settings = {});
    // Into an app's storage rather than a project.
    void uploadFile(const std::string& path, const std::string& appID,
                    const std::optional<std::string>& parentFolder,
                    const std::optional<std::string>& title);
    // As above, without notifying users, carrying the date.
    void uploadFile(const std::string& path, const std::string& appID,
                    const std::optional<std::string>& parentFolder,
                    const std::optional<std::string>& title, const base::Date& date);
    // A picture exactly 120 pixels wide is encoded as it is; any other is scaled to 120
    // wide first. Sent as a JPEG of quality 0.8.
    void uploadThumbnailImage(const platform::image::RGBAImage& image, int64_t fileID);

    // Form uploads: files from disk posted to `url` as one multipart form, with the
    // parameters and the access token as text fields; streamed from disk, 180-second
    // time-out, 3 retries, queued like the uploads. The MIME type, file name and
    // context are not used: each part takes its own file's name and type, and the
    // outcome is always that of "files/upload" (fileUploaded() with the reply, or
    // uploadFileFailedWithError()). The upload list is left alone and no progress is
    // reported. Nothing happens unless linked.
    using FormFiles = std::vector<std::pair<std::string, std::string>>;  // field name, path
    // The one file goes under the field name "file".
    void postURL(const std::string& url, base::Dictionary params, const std::string& file,
                 const std::string& mimeType, const std::optional<std::string>& filename,
                 const std::string& context);
    void postURL(const std::string& url, base::Dictionary params, const FormFiles& files,
                 const std::string& mimeType, const std::optional<std::string>& filename,
                 const std::string& context);
    // ==== end of uploads ====

  private:
    OWQuorvane() = default;
    void setup(Services services);
    void goAway();
    void observeNotifications();
    void onQueueCount(size_t count);
    std::shared_ptr<OWQuorvaneAccount> account() const;
    // The endpoint road: isLinked(), then a form request to apiURLString() + path.
    bool post(const std::string& path, const std::string& context, base::Dictionary params,
              std::vector<OWQuorvaneRequest::Invalidation> invalidations = {});

    std::shared_ptr<OWQuorvaneCore> core_;
    std::shared_ptr<base::OperationQueue> opQueue_;
    std::vector<base::Observation> observations_;
    std::atomic<bool> shouldExpectAdditionalTasks_{false};

    mutable std::mutex mutex_;
    std::weak_ptr<OWQuorvaneDelegate> delegate_;
    std::optional<std::string> sourceAppID_;
    std::vector<base::Dictionary> uploadQueueSettings_;

    // ==== uploads ====
    friend class OWQuorvaneUploadTransfer;
    struct UploadRequestFields;
    bool startUpload(const UploadRequestFields& fields);
    void sendToStorage(const std::string& file, base::Dictionary settings,
                       std::shared_ptr<OWQuorvaneUploadTransfer> transfer);
    void sendToServer(const std::string& file, base::Dictionary settings,
                      std::shared_ptr<OWQuorvaneUploadTransfer> transfer);
    // A form post of `fields`, the access token and `files` whose outcome goes to
    // `transfer`.
    std::shared_ptr<base::Operation> makeFormUpload(
        const std::string& url, const base::Dictionary& fields, const FormFiles& files,
        const std::shared_ptr<OWQuorvaneUploadTransfer>& transfer);
    void keepTransfer(std::shared_ptr<OWQuorvaneUploadTransfer> transfer);
    void releaseTransfer(const OWQuorvaneUploadTransfer* transfer);
    // Receivers of the running and queued transfers; each lets go when its request ends.
    mutable std::mutex transfersMutex_;
    std::vector<std::shared_ptr<OWQuorvaneUploadTransfer>> transfers_;
    // ==== end of uploads ====
};
