#include "upload_dialog/QuorvSettingsController.h"

#include <sys/stat.h>

#include <QColor>
#include <QCoreApplication>
#include <QDialog>
#include <QIcon>
#include <QLineEdit>
#include <QPalette>
#include <QVariant>
#include <filesystem>
#include <system_error>

#include "base/Bundle.h"
#include "base/Format.h"
#include "base/PropertyList.h"
#include "base/RunLoop.h"
#include "base/Workspace.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneHubHandOver.h"
#include "platform/ui/qt/QtAlertPresenter.h"
#include "platform/ui/qt/WindowPlacement.h"
#include "support/OWAlert.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"
#include "ui_QuorvSettings.h"

namespace {

// The window: Escape and the close box end the dialog as a cancel, so every host's
// wait ends (the share destination then quits).
class SettingsWindow final : public QDialog {
  public:
    explicit SettingsWindow(QuorvSettingsController& owner) : owner_(owner) {}
    void reject() override { owner_.cancel(); }

  private:
    QuorvSettingsController& owner_;
};

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

std::string text(const QString& text) {
    return text.toStdString();
}

QVariant represented(const base::Value& value) {
    return QVariant::fromValue(value);
}

QIcon bundleImage(const char* name) {
    const auto bundle = base::Bundle::own();
    const auto path = bundle ? bundle->pathForResource(name, "png") : std::nullopt;
    return path ? QIcon(qt(*path)) : QIcon();
}

// "a, b;c" -> {"a", "", "b", "c"}: every space, comma and semicolon ends a piece.
std::vector<std::string> splitAddresses(const std::string& field) {
    std::vector<std::string> pieces(1);
    for (char c : field) {
        if (c == ' ' || c == ',' || c == ';') {
            pieces.emplace_back();
        } else {
            pieces.back() += c;
        }
    }
    return pieces;
}

// A sheet on the settings window, its one field empty and ready for typing.
void openSheet(QDialog& sheet, QLineEdit& field) {
    field.clear();
    sheet.open();
    sheet.activateWindow();
    field.setFocus();
}

void alert(const std::string& title, const std::string& message) {
    OWAlert::alertSheetWithMessageText(title, message, nullptr);
}

std::string errorText(const base::Error& error) {
    const base::Value* message = error.userInfo().find("error");
    return message && message->string() ? message->string()->str() : error.localizedDescription();
}

// The hub, found where the exporters look for it when they ask it for the account.
bool launchHub() {
    const auto path = OWQuorvaneHubHandOver().hubBundlePath();
    if (!path) {
        OWLog::appendLogAndPrint("Unable to find the application %@",
                                 QuorvSettingsController::kHubIdentifier);
        return false;
    }
    if (auto error = base::Workspace::launchApplication(*path)) {
        OWLog::appendLogAndPrint("Unable to launch %@: %@", *path, *error);
        return false;
    }
    return true;
}

void openAddress(const std::string& address) {
    if (auto error = base::Workspace::openURL(address)) {
        OWLog::appendLogAndPrint("Unable to open %@: %@", address, *error);
    }
}

}  // namespace

const std::vector<QuorvSettingsController::ExpiryChoice>&
QuorvSettingsController::linkExpiryChoices() {
    static const std::vector<ExpiryChoice> choices{
        {"Never", 0},          {"After 1 day", 1},    {"After 7 days", 7},
        {"After 30 days", 30}, {"After 90 days", 90},
    };
    return choices;
}

// ---- making ----

std::shared_ptr<QuorvSettingsController> QuorvSettingsController::create() {
    std::shared_ptr<QuorvSettingsController> controller(new QuorvSettingsController);
    controller->buildForm();
    controller->connectActions();
    controller->awakeFromNib();
    return controller;
}

QuorvSettingsController::QuorvSettingsController() = default;

QuorvSettingsController::~QuorvSettingsController() {
    projects_.clear();
    departments_.clear();
    folders_.clear();
    workflows_.clear();
    std::shared_ptr<OWQuorvane> client;
    {
        std::lock_guard lock(quorvMutex_);
        client = std::move(quorv_);
    }
    if (client) {
        client->unassignDelegate();
    }
    client.reset();
    linkPassword_.clear();
    ui_.reset();
    window_.reset();
}

void QuorvSettingsController::buildForm() {
    window_ = std::make_unique<SettingsWindow>(*this);
    ui_ = std::make_unique<Ui::QuorvSettings>();
    ui_->setupUi(window_.get());
    for (const ExpiryChoice& choice : linkExpiryChoices()) {
        ui_->linkExpiresPopUp->addItem(QString::fromUtf8(choice.title),
                                       QVariant::fromValue<qint64>(choice.tag));
    }
    // The spinner keeps its place while hidden, so nothing moves when it starts.
    QSizePolicy keep = ui_->spinner->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    ui_->spinner->setSizePolicy(keep);
    ui_->spinner->hide();
    for (QDialog* sheet : {ui_->windowNewProject, ui_->windowNewFolder}) {
        sheet->setWindowModality(Qt::WindowModal);
    }
    // Room for a name of some thirty characters, in the font in use.
    for (QLineEdit* field : {ui_->newProjectTitle, ui_->newFolderTitle}) {
        field->setMinimumWidth(field->fontMetrics().averageCharWidth() * 32);
    }
    QPalette warning = ui_->projectWarning->palette();
    warning.setColor(QPalette::WindowText, QColor(0xb0, 0x1c, 0x1c));
    ui_->projectWarning->setPalette(warning);
}

void QuorvSettingsController::connectActions() {
    QDialog* w = window_.get();
    Ui::QuorvSettings& ui = *ui_;
    QObject::connect(ui.uploadBtn, &QPushButton::clicked, w, [this] { exportSettings(); });
    QObject::connect(ui.cancelBtn, &QPushButton::clicked, w, [this] { cancel(); });
    QObject::connect(ui.loginBtn, &QPushButton::clicked, w, [this] { login(); });
    QObject::connect(ui.forgotPassBtn, &QPushButton::clicked, w, [this] { forgotPass(); });
    QObject::connect(ui.tabView, &QTabWidget::currentChanged, w,
                     [this](int index) { tabViewDidSelectTab(index); });
    // A pop-up acts on the user's choice only; a rebuild selects without acting. The
    // "Create new ..." entries carry their own actions.
    QObject::connect(ui.projectPopUp, &QComboBox::activated, w, [this](int index) {
        if (representedValue(*ui_->projectPopUp, index) == base::Value(kCreateNewValue)) {
            showNewProjectDialog();
        } else {
            changeProject();
        }
    });
    QObject::connect(ui.deptPopUp, &QComboBox::activated, w, [this] { changeDepartment(); });
    QObject::connect(ui.folderPopUp, &QComboBox::activated, w, [this](int index) {
        if (representedValue(*ui_->folderPopUp, index) == base::Value(kCreateNewValue)) {
            showNewFolderDialog();
        } else {
            changeFolder();
        }
    });
    QObject::connect(ui.createNewProjectBtn, &QPushButton::clicked, w,
                     [this] { createNewProject(); });
    QObject::connect(ui.cancelNewProjectBtn, &QPushButton::clicked, w,
                     [this] { cancelNewProject(); });
    QObject::connect(ui.createNewFolderBtn, &QPushButton::clicked, w,
                     [this] { createNewFolder(); });
    QObject::connect(ui.cancelNewFolderBtn, &QPushButton::clicked, w,
                     [this] { cancelNewFolder(); });
}

void QuorvSettingsController::awakeFromNib() {
    // Both exporters read the hub's record with the same client id.
    OWQuorvaneAuthController::sharedController(std::string(kHubAppName),
                                               std::string(kExporterClientID), false);
    // Setting up the client already reports the account state to us.
    auto client = OWQuorvane::create(shared_from_this());
    {
        std::lock_guard lock(quorvMutex_);
        quorv_ = client;
    }
    window_->adjustSize();
    centreWindow();
    if (!title_.empty()) {
        showTitle();
    }
    loadPreferences();
    updateAccountText();
    if (client->isLinked()) {
        populateProjects();
        restoreChoices();
        ui_->linkPasswordText->setText(qt(randomString(kLinkPasswordLength)));
    } else {
        askToLinkAccount();
    }
}

void QuorvSettingsController::showTitle() {
    ui_->titleText->setText(qt(title_));
    ui_->titleText->setCursorPosition(0);  // a long title shows its beginning
}

void QuorvSettingsController::centreWindow() {
    platform::ui::qt::centerOnPrimaryScreen(*window_);
}

void QuorvSettingsController::askToLinkAccount() {
    const std::string informative = base::format(
        "First you need to link the plugin to your account with Quorvane Plugin Hub. Would "
        "you like to launch Quorvane Plugin Hub now?%@",
        isFCPX() ? "" : "\n\nYou may need to relaunch Adobe Premiere after doing this.");
    const long answer = OWAlert::alertSheetWithMessageText(
        "Account not linked", std::string("Link Account"), std::string("Cancel"), std::nullopt,
        informative, platform::ui::qt::QtAlertPresenter::windowIdentity(window_.get()), true);
    if (answer == 1) {
        launchHub();
    }
    std::weak_ptr<QuorvSettingsController> weak = weak_from_this();
    base::MainQueue::postAfter(kCancelAfterAlertSeconds, [weak] {
        if (auto self = weak.lock()) {
            self->cancel();
        }
    });
}

void QuorvSettingsController::restoreChoices() {
    const std::pair<const char*, QCheckBox*> checks[] = {
        {kAlertUsersKey, ui_->alertUsersCheck},
        {kAutoReviseKey, ui_->autoReviseCheck},
        {kAllowCommentsKey, ui_->allowCommentsCheck},
        {kRequirePasswordKey, ui_->linkRequirePasswordCheck},
        {kHideDownloadKey, ui_->linkHideDownloadCheck},
        {kAccessRevisionsKey, ui_->linkAllowRevisionsCheck},
    };
    for (const auto& [key, check] : checks) {
        if (const base::Value* v = userDefaults_.find(key)) {
            check->setChecked(v->integerValue() != 0);
        }
    }
    if (const base::Value* v = userDefaults_.find(kStatusKey)) {
        const int64_t index = v->integerValue();
        if (index >= 0 && index < ui_->statusPopUp->count()) {
            ui_->statusPopUp->setCurrentIndex(static_cast<int>(index));
        }
    }
    if (const base::Value* v = userDefaults_.find(kLinkExpiresKey)) {
        const int index =
            ui_->linkExpiresPopUp->findData(QVariant::fromValue<qint64>(v->integerValue()));
        if (index >= 0) {
            ui_->linkExpiresPopUp->setCurrentIndex(index);
        }
    }
}

// ---- the hosts' calls ----

void QuorvSettingsController::showWindow(std::function<void()> finishBlock) {
    if (!title_.empty()) {
        showTitle();
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    if (finishBlock) {
        finishBlock_ = std::move(finishBlock);
    }
}

void QuorvSettingsController::hideWindow() {
    finished_ = true;
    window_->hide();
}

void QuorvSettingsController::windowDidClose() {
    finished_ = true;
}

bool QuorvSettingsController::isFCPX() {
    const auto bundle = base::Bundle::own();
    return bundle && bundle->identifier() == kShareDestinationIdentifier;
}

std::shared_ptr<OWQuorvane> QuorvSettingsController::quorv() const {
    std::lock_guard lock(quorvMutex_);
    return quorv_;
}

QDialog* QuorvSettingsController::window() const {
    return window_.get();
}

base::Value QuorvSettingsController::representedValue(const QComboBox& popUp, int index) {
    if (index < 0 || index >= popUp.count()) {
        return {};
    }
    const QVariant data = popUp.itemData(index);
    return data.canConvert<base::Value>() ? data.value<base::Value>() : base::Value();
}

std::string QuorvSettingsController::randomString(size_t length) {
    return OWLocalPaths::randomString(length);
}

// ---- preferences ----

std::string QuorvSettingsController::preferencesPath() {
    return OWLocalPaths::prefsDirectory(true).value_or("") +
           base::format("/%@.plist", kPreferencesDomain);
}

void QuorvSettingsController::loadPreferences() {
    const auto stored = base::PropertyList::readFile(preferencesPath());
    userDefaults_ = stored && stored->dictionary() ? *stored->dictionary() : base::Dictionary();
}

base::Value QuorvSettingsController::objectForPreferenceKey(const std::string& key) const {
    const base::Value* v = userDefaults_.find(key);
    return v ? *v : base::Value();
}

void QuorvSettingsController::setObjectForPreferenceKey(base::Value value, const std::string& key) {
    userDefaults_.set(key, std::move(value));
    synchronizePreferences();
}

void QuorvSettingsController::synchronizePreferences() const {
    const std::string path = preferencesPath();
    std::error_code ignored;
    const auto folder = std::filesystem::path(path).parent_path();
    if (!std::filesystem::exists(folder, ignored)) {
        std::filesystem::create_directories(folder, ignored);
        ::chmod(folder.c_str(), 0700);
    }
    base::PropertyList::writeFile(base::Value(userDefaults_), path);
}

// ---- export and cancel ----

void QuorvSettingsController::exportSettings() {
    const auto client = quorv();
    if (!client || !client->isLinked()) {
        alert("Error", "Please authorize with your Quorvane account before uploading.");
        return;
    }
    readControls();
    if (projectID_ < -1) {
        alert("Error", "Please select a valid project.");
        return;
    }
    if (title_.empty()) {
        alert("Error", "Please specify a title for the file.");
        return;
    }
    if (folder_ == kCreateNewValue) {
        alert("Error", "Please select a valid folder.");
        return;
    }
    if (folder_.empty()) {
        folder_ = kRootFolder;
    }
    const std::string typed = text(ui_->emailText->text());
    emails_ = splitAddresses(typed);
    userDefaults_.set(kStatusKey, base::Value(status_));
    userDefaults_.set(kAlertUsersKey, base::Value(int64_t{alertUsers_}));
    userDefaults_.set(kAutoReviseKey, base::Value(int64_t{autoRevise_}));
    userDefaults_.set(kLinkEmailsKey, base::Value(typed));
    userDefaults_.set(kRequirePasswordKey, base::Value(int64_t{linkRequirePassword_}));
    userDefaults_.set(kHideDownloadKey, base::Value(int64_t{linkHideDownload_}));
    userDefaults_.set(kAccessRevisionsKey, base::Value(int64_t{linkAccessRevisions_}));
    userDefaults_.set(kLinkExpiresKey, base::Value(linkExpires_));
    userDefaults_.set(kAllowCommentsKey, base::Value(int64_t{allowComments_}));
    synchronizePreferences();
    endDialog(false);
}

void QuorvSettingsController::readControls() {
    const Ui::QuorvSettings& ui = *ui_;
    title_ = text(ui.titleText->text());
    desc_ = text(ui.descText->toPlainText());
    projectID_ = representedValue(*ui.projectPopUp, ui.projectPopUp->currentIndex()).integerValue();
    deptID_ = representedValue(*ui.deptPopUp, ui.deptPopUp->currentIndex()).integerValue();
    folder_ = representedValue(*ui.folderPopUp, ui.folderPopUp->currentIndex()).stringValue();
    alertUsers_ = ui.alertUsersCheck->isChecked();
    autoRevise_ = ui.autoReviseCheck->isChecked();
    allowComments_ = ui.allowCommentsCheck->isChecked();
    status_ = ui.statusPopUp->currentIndex();
    workflowID_ =
        representedValue(*ui.workflowPopUp, ui.workflowPopUp->currentIndex()).integerValue();
    linkRequirePassword_ = ui.linkRequirePasswordCheck->isChecked();
    linkPassword_ = text(ui.linkPasswordText->text());
    linkHideDownload_ = ui.linkHideDownloadCheck->isChecked();
    linkAccessRevisions_ = ui.linkAllowRevisionsCheck->isChecked();
    linkExpires_ = ui.linkExpiresPopUp->currentData().toLongLong();
}

void QuorvSettingsController::cancel() {
    endDialog(true);
    if (isFCPX()) {
        // Behind whatever the finish block handed to the main queue, so a pending
        // scripting command is answered before the application quits.
        base::MainQueue::post([] { QCoreApplication::quit(); });
    }
}

void QuorvSettingsController::endDialog(bool cancelled) {
    cancelled_ = cancelled;
    finished_ = true;
    window_->hide();
    if (finishBlock_) {
        finishBlock_();
    }
}

// ---- the cascade ----

void QuorvSettingsController::changeProject() {
    const int index = ui_->projectPopUp->currentIndex();
    if (index < 0) {
        return;
    }
    const base::Value value = representedValue(*ui_->projectPopUp, index);
    if (value.integerValue() != objectForPreferenceKey(kSelectedProjectKey).integerValue()) {
        setObjectForPreferenceKey(base::Value("-1"), kSelectedDeptKey);
        setObjectForPreferenceKey(base::Value(kRootFolder), kSelectedFolderKey);
    }
    projectID_ = value.integerValue();
    setObjectForPreferenceKey(value, kSelectedProjectKey);
    if (refusedProject_ && *refusedProject_ != projectID_) {
        setUploadRefused(std::nullopt);
    }
    populateDepartmentsForProject(projectID_);
    populateFileWorkflowsForProject(projectID_);
    checkUpload(projectID_);
}

void QuorvSettingsController::changeDepartment() {
    const base::Value dept = representedValue(*ui_->deptPopUp, ui_->deptPopUp->currentIndex());
    const auto project = selectedProject();
    populateFoldersForDepartment(dept.integerValue(), project.value_or(kNoProject));
    setObjectForPreferenceKey(dept, kSelectedDeptKey);
    deptID_ = dept.integerValue();
}

void QuorvSettingsController::changeFolder() {
    setObjectForPreferenceKey(representedValue(*ui_->folderPopUp, ui_->folderPopUp->currentIndex()),
                              kSelectedFolderKey);
}

void QuorvSettingsController::tabViewDidSelectTab(int index) {
    if (index == 0) {
        populateProjects();
    }
}

std::optional<int64_t> QuorvSettingsController::selectedProject() const {
    const base::Value value =
        representedValue(*ui_->projectPopUp, ui_->projectPopUp->currentIndex());
    if (value.isNull() || value == base::Value(kCreateNewValue)) {
        return std::nullopt;
    }
    return value.integerValue();
}

// ---- requests ----

bool QuorvSettingsController::startRequest(bool spin) {
    const auto client = quorv();
    if (!client || !client->isLinked()) {
        return false;  // nothing would be sent, and nothing would stop the spinner
    }
    if (spin) {
        startSpinner();
    }
    return true;
}

void QuorvSettingsController::populateProjects() {
    if (startRequest(true)) {
        quorv()->populateProjects(true);
    }
}

void QuorvSettingsController::populateDepartmentsForProject(int64_t projectID) {
    if (startRequest(true)) {
        quorv()->populateDepartmentsForProjectID(projectID);
    }
}

void QuorvSettingsController::populateFoldersForDepartment(int64_t deptID, int64_t projectID) {
    if (startRequest(true)) {
        quorv()->populateFoldersForProjectID(projectID, std::string(kRootFolder), deptID, true);
    }
}

void QuorvSettingsController::populateFileWorkflowsForProject(int64_t projectID) {
    if (startRequest(false)) {
        quorv()->populateFileWorkflowsForProjectID(projectID);
    }
}

void QuorvSettingsController::checkUpload(int64_t projectID) {
    if (startRequest(false)) {
        uploadChecks_.push_back(projectID);
        quorv()->canUploadToProject(projectID);
    }
}

void QuorvSettingsController::startSpinner() {
    ui_->spinner->show();
}

void QuorvSettingsController::stopSpinner() {
    ui_->spinner->hide();
}

// ---- lists ----

void QuorvSettingsController::quorvaneOAuthStatusChanged(OWQuorvane& client) {
    stopSpinner();
    updateAccountText();
    // During the client's set-up it is not ours yet.
    if (!quorv() && client.isLinked()) {
        startSpinner();
        client.populateProjects(true);
        return;
    }
    populateProjects();
}

void QuorvSettingsController::projectsReceived(OWQuorvane&, const base::Value& result) {
    stopSpinner();
    projects_ = result.array() ? *result.array() : base::Array();
    rebuildProjects();
    uploadUnlocked_ = true;
    updateUploadButton();
}

void QuorvSettingsController::departmentsReceived(OWQuorvane&, const base::Value& result) {
    stopSpinner();
    departments_ = result.array() ? *result.array() : base::Array();
    rebuildDepartments();
}

void QuorvSettingsController::foldersReceived(OWQuorvane&, const base::Value& result) {
    stopSpinner();
    folders_ = result.array() ? *result.array() : base::Array();
    rebuildFolders();
}

void QuorvSettingsController::workflowsReceived(OWQuorvane&, const base::Value& result) {
    workflows_ = result.array() ? *result.array() : base::Array();
    rebuildWorkflows();
}

void QuorvSettingsController::rebuildProjects() {
    QComboBox& popUp = *ui_->projectPopUp;
    const int64_t saved = objectForPreferenceKey(kSelectedProjectKey).integerValue();
    popUp.clear();
    int selected = -1;
    for (const base::Value& project : projects_) {
        popUp.addItem(qt(project["title"].stringValue()), represented(project["id"]));
        if (project["id"].integerValue() == saved) {
            selected = popUp.count() - 1;
        }
    }
    const bool any = popUp.count() > 0;
    popUp.insertSeparator(popUp.count());
    popUp.addItem(QStringLiteral("Create new project..."),
                  represented(base::Value(kCreateNewValue)));
    // With no saved choice among them the first project is shown; never a command.
    popUp.setCurrentIndex(selected >= 0 ? selected : (any ? 0 : -1));
    // Nothing could be uploaded without a project: Upload waits until one is made.
    if (!any) {
        setUploadRefused(kNoProject, kNoProjectsText);
    } else if (refusedProject_ == kNoProject) {
        setUploadRefused(std::nullopt);
    }
    const auto project = selectedProject();
    if (!project) {
        return;
    }
    if (*project != saved) {
        // The saved project is gone (or none was saved): what is shown is the choice
        // now, so a new folder goes where the user sees it going.
        setObjectForPreferenceKey(representedValue(popUp, popUp.currentIndex()),
                                  kSelectedProjectKey);
        setObjectForPreferenceKey(base::Value("-1"), kSelectedDeptKey);
        setObjectForPreferenceKey(base::Value(kRootFolder), kSelectedFolderKey);
    }
    populateDepartmentsForProject(*project);
    populateFileWorkflowsForProject(*project);
    checkUpload(*project);
}

void QuorvSettingsController::rebuildDepartments() {
    {
        std::lock_guard lock(rebuildMutex_);
        QComboBox& popUp = *ui_->deptPopUp;
        const int64_t saved = objectForPreferenceKey(kSelectedDeptKey).integerValue();
        const QIcon image = bundleImage(kDeptImage);
        popUp.clear();
        popUp.addItem(QStringLiteral("(None)"), represented(base::Value(kNone)));
        for (const base::Value& dept : departments_) {
            const int64_t id = dept["id"].integerValue();
            popUp.addItem(image, qt(dept["title"].stringValue()), represented(base::Value(id)));
            if (id == saved) {
                popUp.setCurrentIndex(popUp.count() - 1);
            }
        }
    }
    const int64_t dept =
        representedValue(*ui_->deptPopUp, ui_->deptPopUp->currentIndex()).integerValue();
    if (const auto project = selectedProject()) {
        populateFoldersForDepartment(dept, *project);
    }
}

void QuorvSettingsController::rebuildFolders() {
    std::lock_guard lock(rebuildMutex_);
    QComboBox& popUp = *ui_->folderPopUp;
    const std::string saved = objectForPreferenceKey(kSelectedFolderKey).stringValue();
    const QIcon image = bundleImage(kFolderImage);
    popUp.clear();
    popUp.addItem(QStringLiteral("(Root)"), represented(base::Value(kRootFolder)));
    for (const base::Value& folder : folders_) {
        std::string path = folder["path"].stringValue();
        if (path.empty() || path.back() != '/') {
            path += '/';
        }
        path += folder["title"].stringValue();
        popUp.addItem(image, qt(path.substr(1)), represented(base::Value(path)));
        if (path == saved) {
            popUp.setCurrentIndex(popUp.count() - 1);
        }
    }
    popUp.insertSeparator(popUp.count());
    popUp.addItem(QStringLiteral("Create new folder..."),
                  represented(base::Value(kCreateNewValue)));
}

void QuorvSettingsController::rebuildWorkflows() {
    std::lock_guard lock(rebuildMutex_);
    QComboBox& popUp = *ui_->workflowPopUp;
    popUp.clear();
    popUp.addItem(QStringLiteral("(None)"), represented(base::Value(kNone)));
    for (const base::Value& workflow : workflows_) {
        const int64_t id = workflow["id"].integerValue();
        if (id == kNone) {
            continue;
        }
        popUp.addItem(qt(workflow["name"].stringValue()), represented(base::Value(id)));
    }
}

// ---- new project and new folder ----

void QuorvSettingsController::showNewProjectDialog() {
    openSheet(*ui_->windowNewProject, *ui_->newProjectTitle);
}

void QuorvSettingsController::cancelNewProject() {
    ui_->windowNewProject->done(QDialog::Rejected);
}

void QuorvSettingsController::createNewProject() {
    const std::string title = text(ui_->newProjectTitle->text());
    if (title.empty()) {
        alert("Unable to create project", "You must specify a title.");
        return;
    }
    const auto client = quorv();
    if (client && client->createProject(title, std::string(), std::string(), 0)) {
        startSpinner();
        cancelNewProject();
    } else {
        alert("Unable to create project", "Please check you are logged in and try again.");
    }
}

void QuorvSettingsController::showNewFolderDialog() {
    openSheet(*ui_->windowNewFolder, *ui_->newFolderTitle);
}

void QuorvSettingsController::cancelNewFolder() {
    ui_->windowNewFolder->done(QDialog::Rejected);
}

void QuorvSettingsController::createNewFolder() {
    std::string name = text(ui_->newFolderTitle->text());
    if (name.empty()) {
        alert("Unable to create folder", "You must specify a folder name.");
        return;
    }
    if (name.front() != '/') {
        name.insert(0, "/");
    }
    if (const auto client = quorv()) {
        startSpinner();
        client->createFolder(name, objectForPreferenceKey(kSelectedProjectKey).integerValue(),
                             objectForPreferenceKey(kSelectedDeptKey).integerValue());
    }
    cancelNewFolder();
}

void QuorvSettingsController::projectCreated(OWQuorvane&, const base::Value& result) {
    stopSpinner();
    setObjectForPreferenceKey(result["id"], kSelectedProjectKey);
    populateProjects();
}

void QuorvSettingsController::foldersCreated(OWQuorvane&, const base::Value& result) {
    stopSpinner();
    const base::Value& made = result.array() ? result[size_t{0}] : result;
    setObjectForPreferenceKey(made["path"], kSelectedFolderKey);
    populateFoldersForDepartment(made["dept"].integerValue(),
                                 objectForPreferenceKey(kSelectedProjectKey).integerValue());
}

// ---- may the user upload here ----

void QuorvSettingsController::canUpload(OWQuorvane&, const base::Value& result) {
    const bool allowed = result.isBool()                 ? result.boolValue()
                         : result["can_upload"].isNull() ? true
                                                         : result["can_upload"].boolValue();
    answerUploadCheck(allowed
                          ? std::nullopt
                          : std::optional<std::string>("You cannot upload files to this project."));
}

void QuorvSettingsController::cannotUploadWithError(OWQuorvane&, const base::Error& error) {
    answerUploadCheck(errorText(error));
}

void QuorvSettingsController::answerUploadCheck(std::optional<std::string> refusal) {
    if (uploadChecks_.empty()) {
        return;
    }
    const int64_t asked = uploadChecks_.front();
    uploadChecks_.pop_front();
    // A late answer for a project no longer shown changes nothing.
    if (selectedProject() != asked) {
        return;
    }
    if (refusal) {
        setUploadRefused(asked, *refusal);
    } else {
        setUploadRefused(std::nullopt);
    }
}

void QuorvSettingsController::setUploadRefused(std::optional<int64_t> projectID,
                                               const std::string& why) {
    refusedProject_ = projectID;
    ui_->projectWarning->setText(qt(why));
    ui_->projectWarning->setVisible(projectID.has_value());
    updateUploadButton();
}

void QuorvSettingsController::updateUploadButton() {
    // No project at all counts as project 0, refused while the account has none.
    const bool refused =
        refusedProject_ && selectedProject().value_or(kNoProject) == *refusedProject_;
    ui_->uploadBtn->setEnabled(uploadUnlocked_ && !refused);
}

// ---- failures ----

void QuorvSettingsController::showServiceError(const base::Error& error) {
    stopSpinner();
    if (const auto client = quorv()) {
        client->showAlertForError(error);
    }
}

void QuorvSettingsController::populateProjectsFailedWithError(OWQuorvane&,
                                                              const base::Error& error) {
    showServiceError(error);
}

void QuorvSettingsController::populateDepartmentsFailedWithError(OWQuorvane&,
                                                                 const base::Error& error) {
    showServiceError(error);
}

void QuorvSettingsController::populateFoldersFailedWithError(OWQuorvane&,
                                                             const base::Error& error) {
    showServiceError(error);
}

void QuorvSettingsController::createProjectFailedWithError(OWQuorvane&, const base::Error& error) {
    showServiceError(error);
}

void QuorvSettingsController::createFoldersFailedWithError(OWQuorvane&, const base::Error& error) {
    showServiceError(error);
}

void QuorvSettingsController::populateWorkflowsFailedWithError(OWQuorvane& client,
                                                               const base::Error& error) {
    client.showAlertForError(error);
}

// ---- other actions ----

void QuorvSettingsController::login() {
    // Accounts are linked in the hub; the window asks for no password.
    launchHub();
}

void QuorvSettingsController::forgotPass() {
    if (const auto client = quorv()) {
        openAddress(base::format("%@/lost_password.php", client->siteURLString()));
    }
}

void QuorvSettingsController::updateAccountText() {
    const auto client = quorv();
    if (client && client->isLinked()) {
        const auto user = client->username();
        ui_->accountText->setText(
            qt((user && !user->empty()
                    ? base::format("This plugin is linked to the Quorvane account of %@.", *user)
                    : std::string("This plugin is linked to a Quorvane account.")) +
               " Accounts are linked and unlinked in Quorvane Plugin Hub."));
    } else {
        ui_->accountText->setText(QStringLiteral(
            "This plugin is not linked to a Quorvane account yet. Accounts are linked in "
            "Quorvane Plugin Hub."));
    }
}
