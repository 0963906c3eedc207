#pragma once
// The upload-settings window both exporters show before an upload: the user picks the
// project, department, folder and file workflow on the service, types the file's title
// and description and sets the notification, revision and sharing-link options.
//
// The controller is also the settings record: the host fills in the movie's timing
// (and, in the share destination, the thumbnail) and hands the controller to the
// progress window once the dialog has finished without being cancelled.
//
// Use: create() builds the window from its interface file "QuorvSettings", wires it and
// runs its load step; the host sets the title, then calls showWindow(). The share
// destination passes a finish block; the export plug-in polls finished() and
// cancelled(). The window talks to the service through its own client (whose delegate
// it is) and remembers the user's choices in the exporters' shared preference file.
// Everything runs on the main thread.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Value.h"
#include "client/OWQuorvaneDelegate.h"
#include "client/OWQuorvaneHubHandOver.h"
#include "platform/image/RGBAImage.h"

class OWQuorvane;
class QComboBox;
class QDialog;
class QWidget;
namespace Ui {
class QuorvSettings;
}

class QuorvSettingsController : public OWQuorvaneDelegate,
                                public std::enable_shared_from_this<QuorvSettingsController> {
  public:
    // ---- names that belong to the exporters ----
    static constexpr const char* kInterfaceName = "QuorvSettings";
    static constexpr const char* kPreferencesDomain = "com.oxburyworks.QuorvPremiereExporter";
    static constexpr const char* kHubAppName = "Quorvane Plugin Hub";
    static constexpr const char* kHubIdentifier = OWQuorvaneHubHandOver::kHubIdentifier;
    static constexpr const char* kShareDestinationIdentifier = "com.oxburyworks.QuorvFCPXExporter";
    // The OAuth client id both exporters present, so both read the hub's record.
    static constexpr const char* kExporterClientID = "Xq7RbM2kVd9TzL4wNc6P";
    static constexpr const char* kDeptImage = "Quorv_Dept";
    static constexpr const char* kFolderImage = "Quorv_Folder";
    static constexpr size_t kLinkPasswordLength = 8;
    static constexpr double kCancelAfterAlertSeconds = 1.0;

    // ---- keys of the preference file ----
    static constexpr const char* kStatusKey = "status";
    static constexpr const char* kAlertUsersKey = "alertUsers";
    static constexpr const char* kAutoReviseKey = "autoRevise";
    static constexpr const char* kAllowCommentsKey = "linkAllowComments";
    static constexpr const char* kRequirePasswordKey = "linkRequirePassword";
    static constexpr const char* kHideDownloadKey = "linkHideDownload";
    static constexpr const char* kAccessRevisionsKey = "linkAccessRevisions";
    static constexpr const char* kLinkExpiresKey = "linkExpires";
    static constexpr const char* kLinkEmailsKey = "linkEmails";
    static constexpr const char* kSelectedProjectKey = "selectedProjectID";
    static constexpr const char* kSelectedDeptKey = "selectedDept";
    static constexpr const char* kSelectedFolderKey = "selectedFolder";
    static constexpr const char* kNoThumbUploadKey = "OWQuorvNoThumbUpload";

    // ---- pop-up values ----
    // The value of "Create new project..." and "Create new folder..." (a text).
    static constexpr const char* kCreateNewValue = "-2";
    static constexpr int64_t kNoProject = 0;
    static constexpr int64_t kNone = -1;  // "(None)" department and workflow
    static constexpr const char* kRootFolder = "/";
    // Shown under the project pop-up, Upload held back, when the account has none.
    static constexpr const char* kNoProjectsText =
        "This account has no projects yet. Choose \"Create new project...\" to make one.";

    // The link-expiry choices: title and tag (days the link lives; 0 for never).
    struct ExpiryChoice {
        const char* title;
        int64_t tag;
    };
    static const std::vector<ExpiryChoice>& linkExpiryChoices();

    // Builds the window, wires its actions and runs the load step. With the account not
    // linked the load step waits for the answer to its alert.
    static std::shared_ptr<QuorvSettingsController> create();
    ~QuorvSettingsController() override;
    QuorvSettingsController(const QuorvSettingsController&) = delete;
    QuorvSettingsController& operator=(const QuorvSettingsController&) = delete;

    // ---- called by the hosts ----
    // Shows the title, brings the window to the front; a block becomes the finish block.
    void showWindow(std::function<void()> finishBlock = {});
    // Ends the dialog (finished, not cancelled) and hides the window.
    void hideWindow();
    // The window went away by other means: the dialog has finished.
    void windowDidClose();
    bool finished() const { return finished_; }
    bool cancelled() const { return cancelled_; }
    const std::function<void()>& finishBlock() const { return finishBlock_; }
    void setFinishBlock(std::function<void()> block) { finishBlock_ = std::move(block); }
    // Whether this runs inside the share destination (by the identifier of its bundle).
    static bool isFCPX();

    // ---- the settings record ----
    int64_t projectID() const { return projectID_; }
    void setProjectID(int64_t v) { projectID_ = v; }
    int64_t deptID() const { return deptID_; }
    void setDeptID(int64_t v) { deptID_ = v; }
    const std::string& folder() const { return folder_; }
    void setFolder(std::string v) { folder_ = std::move(v); }
    const std::string& title() const { return title_; }
    void setTitle(std::string v) { title_ = std::move(v); }
    const std::string& desc() const { return desc_; }
    void setDesc(std::string v) { desc_ = std::move(v); }
    const std::vector<std::string>& emails() const { return emails_; }
    void setEmails(std::vector<std::string> v) { emails_ = std::move(v); }
    bool allowComments() const { return allowComments_; }
    void setAllowComments(bool v) { allowComments_ = v; }
    bool autoRevise() const { return autoRevise_; }
    void setAutoRevise(bool v) { autoRevise_ = v; }
    bool alertUsers() const { return alertUsers_; }
    void setAlertUsers(bool v) { alertUsers_ = v; }
    int64_t workflowID() const { return workflowID_; }
    void setWorkflowID(int64_t v) { workflowID_ = v; }
    int64_t status() const { return status_; }
    void setStatus(int64_t v) { status_ = v; }
    bool linkRequirePassword() const { return linkRequirePassword_; }
    void setLinkRequirePassword(bool v) { linkRequirePassword_ = v; }
    const std::string& linkPassword() const { return linkPassword_; }
    void setLinkPassword(std::string v) { linkPassword_ = std::move(v); }
    bool linkHideDownload() const { return linkHideDownload_; }
    void setLinkHideDownload(bool v) { linkHideDownload_ = v; }
    bool linkAccessRevisions() const { return linkAccessRevisions_; }
    void setLinkAccessRevisions(bool v) { linkAccessRevisions_ = v; }
    int64_t linkExpires() const { return linkExpires_; }
    void setLinkExpires(int64_t v) { linkExpires_ = v; }
    float fps() const { return fps_; }
    void setFps(float v) { fps_ = v; }
    int64_t timecodeZeroPoint() const { return timecodeZeroPoint_; }
    void setTimecodeZeroPoint(int64_t v) { timecodeZeroPoint_ = v; }
    bool dropFrame() const { return dropFrame_; }
    void setDropFrame(bool v) { dropFrame_ = v; }
    uint64_t duration() const { return duration_; }
    void setDuration(uint64_t v) { duration_ = v; }
    const std::shared_ptr<const platform::image::RGBAImage>& thumbnail() const {
        return thumbnail_;
    }
    void setThumbnail(std::shared_ptr<const platform::image::RGBAImage> v) {
        thumbnail_ = std::move(v);
    }

    // ---- working data ----
    std::shared_ptr<OWQuorvane> quorv() const;
    const base::Dictionary& userDefaults() const { return userDefaults_; }
    const base::Array& projects() const { return projects_; }
    const base::Array& departments() const { return departments_; }
    const base::Array& folders() const { return folders_; }
    const base::Array& workflows() const { return workflows_; }
    // The window; the form's widgets are its children, found by their object names.
    QDialog* window() const;
    // The value an item of one of the pop-ups represents (null for none).
    static base::Value representedValue(const QComboBox& popUp, int index);

    // ---- preferences ----
    // <the user's preferences folder>/com.oxburyworks.QuorvPremiereExporter.plist
    static std::string preferencesPath();
    base::Value objectForPreferenceKey(const std::string& key) const;
    void setObjectForPreferenceKey(base::Value value, const std::string& key);
    // Writes the whole dictionary atomically, owner-only; a failure is not reported.
    void synchronizePreferences() const;

    // ---- actions ----
    void exportSettings();
    void cancel();
    void changeProject();
    void changeDepartment();
    void changeFolder();
    void login();
    void forgotPass();
    void showNewProjectDialog();
    void cancelNewProject();
    void createNewProject();
    void showNewFolderDialog();
    void cancelNewFolder();
    void createNewFolder();
    void tabViewDidSelectTab(int index);

    // ---- client callbacks ----
    void quorvaneOAuthStatusChanged(OWQuorvane&) override;
    void projectsReceived(OWQuorvane&, const base::Value& result) override;
    void departmentsReceived(OWQuorvane&, const base::Value& result) override;
    void foldersReceived(OWQuorvane&, const base::Value& result) override;
    void workflowsReceived(OWQuorvane&, const base::Value& result) override;
    void projectCreated(OWQuorvane&, const base::Value& result) override;
    void foldersCreated(OWQuorvane&, const base::Value& result) override;
    void canUpload(OWQuorvane&, const base::Value& result) override;
    void populateProjectsFailedWithError(OWQuorvane&, const base::Error& error) override;
    void populateDepartmentsFailedWithError(OWQuorvane&, const base::Error& error) override;
    void populateFoldersFailedWithError(OWQuorvane&, const base::Error& error) override;
    void populateWorkflowsFailedWithError(OWQuorvane&, const base::Error& error) override;
    void createProjectFailedWithError(OWQuorvane&, const base::Error& error) override;
    void createFoldersFailedWithError(OWQuorvane&, const base::Error& error) override;
    void cannotUploadWithError(OWQuorvane&, const base::Error& error) override;

    // `length` characters of [a-z0-9] from the system's secure generator.
    static std::string randomString(size_t length);

  private:
    QuorvSettingsController();
    void buildForm();
    void connectActions();
    void awakeFromNib();
    void centreWindow();
    void showTitle();
    void loadPreferences();
    void askToLinkAccount();
    void restoreChoices();
    void readControls();
    void endDialog(bool cancelled);
    void startSpinner();
    void stopSpinner();
    void showServiceError(const base::Error& error);

    // False (and no spinner) when the client would send nothing.
    bool startRequest(bool spin);
    void populateProjects();
    void populateDepartmentsForProject(int64_t projectID);
    void populateFoldersForDepartment(int64_t deptID, int64_t projectID);
    void populateFileWorkflowsForProject(int64_t projectID);
    void checkUpload(int64_t projectID);
    void answerUploadCheck(std::optional<std::string> refusal);
    void updateUploadButton();

    void rebuildProjects();
    void rebuildDepartments();
    void rebuildFolders();
    void rebuildWorkflows();
    // The selected project's id, when a project (not a command) is selected.
    std::optional<int64_t> selectedProject() const;
    // Marks `projectID` refused (none: allowed) and updates the warning and the button.
    void setUploadRefused(std::optional<int64_t> projectID, const std::string& why = {});
    void updateAccountText();

    // settings record
    int64_t projectID_ = kNoProject;
    int64_t deptID_ = kNone;
    std::string folder_;
    std::string title_;
    std::string desc_;
    std::vector<std::string> emails_;
    bool allowComments_ = false;
    bool autoRevise_ = false;
    bool alertUsers_ = false;
    int64_t workflowID_ = kNone;
    int64_t status_ = 0;
    bool linkRequirePassword_ = false;
    std::string linkPassword_;
    bool linkHideDownload_ = false;
    bool linkAccessRevisions_ = false;
    int64_t linkExpires_ = 0;
    float fps_ = 0;
    int64_t timecodeZeroPoint_ = 0;
    bool dropFrame_ = false;
    uint64_t duration_ = 0;
    std::shared_ptr<const platform::image::RGBAImage> thumbnail_;

    // dialog state
    bool finished_ = false;
    bool cancelled_ = false;
    std::function<void()> finishBlock_;
    std::shared_ptr<OWQuorvane> quorv_;
    mutable std::mutex quorvMutex_;
    base::Dictionary userDefaults_;
    base::Array projects_;
    base::Array departments_;
    base::Array folders_;
    base::Array workflows_;
    // Held while the department, folder and workflow pop-ups are emptied and refilled.
    std::mutex rebuildMutex_;
    // Projects asked about with canUploadToProject, oldest first (answers come in order).
    std::deque<int64_t> uploadChecks_;
    std::optional<int64_t> refusedProject_;
    bool uploadUnlocked_ = false;  // a project list has arrived

    std::unique_ptr<QDialog> window_;
    std::unique_ptr<Ui::QuorvSettings> ui_;
};
