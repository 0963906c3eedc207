// The upload-settings window end to end: clicks and keys on the offscreen platform,
// every list, check and creation answered by the stand-in service, choices kept in the
// exporters' preference file.
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <filesystem>

#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneCacheController.h"
#include "tests/upload_dialog/SettingsWindowSupport.h"

namespace settingstest {
namespace {

using C = QuorvSettingsController;
using Paths = std::vector<std::string>;

class SettingsWindow : public SettingsWindowTest {
  protected:
    QComboBox& popUp(const C& w, const char* name) { return *widget<QComboBox>(w, name); }
    QCheckBox& check(const C& w, const char* name) { return *widget<QCheckBox>(w, name); }
    QPushButton& button(const C& w, const char* name) { return *widget<QPushButton>(w, name); }
    QLineEdit& field(const C& w, const char* name) { return *widget<QLineEdit>(w, name); }
    void showTab(const C& w, int index) {
        QTabBar& bar = *widget<QTabWidget>(w, "tabView")->tabBar();
        QTest::mouseClick(&bar, Qt::LeftButton, {}, bar.tabRect(index).center());
    }
    // Clicks Upload and answers the alert it raises; the alert's texts.
    QString uploadRefused(const C& w) {
        auto seen = answerNextModal();
        click(button(w, "uploadBtn"));
        return *seen;
    }
    Fields lastCall(const std::string& path) const {
        Fields found;
        for (const auto& [p, fields] : apiCalls()) {
            if (p == path) {
                found = fields;
            }
        }
        return found;
    }
};

TEST_F(SettingsWindow, FillsFromTheServiceInCascadeOrderAndExportsEveryChoiceForTheNextLoad) {
    QV_SETTINGS_SERVICE();
    link();
    auto w = open();
    ASSERT_TRUE(waitForLists(*w));

    EXPECT_EQ(itemTexts(popUp(*w, "projectPopUp")),
              (QStringList{"Launch Film", "Trailer", "", "Create new project..."}));
    EXPECT_EQ(itemTexts(popUp(*w, "deptPopUp")), (QStringList{"(None)", "Edit", "Sound"}));
    EXPECT_FALSE(popUp(*w, "deptPopUp").itemIcon(1).isNull());
    EXPECT_EQ(itemTexts(popUp(*w, "folderPopUp")),
              (QStringList{"(Root)", "Cuts", "Cuts/Final", "Stills", "", "Create new folder..."}));
    EXPECT_FALSE(popUp(*w, "folderPopUp").itemIcon(2).isNull());
    // The workflow with id -1 is never listed.
    EXPECT_EQ(itemTexts(popUp(*w, "workflowPopUp")), (QStringList{"(None)", "Review", "Approve"}));
    EXPECT_EQ(C::representedValue(popUp(*w, "folderPopUp"), 2), base::Value("/Cuts/Final"));
    EXPECT_EQ(C::representedValue(popUp(*w, "deptPopUp"), 1), base::Value(11));

    // The projects go out once (the load's second call is answered from the reply
    // cache), then the cascade of the first project.
    const auto calls = apiCalls();
    ASSERT_EQ(apiPaths(), (Paths{"/projects", "/projects/departments", "/projects/workflows",
                                 "/files/canupload", "/projects/folders"}));
    EXPECT_EQ(calls[0].second.at("privateStorage"), "1");
    EXPECT_EQ(calls[0].second.at("access_token"), token);
    EXPECT_EQ(calls[1].second.at("project_id"), "1");
    EXPECT_EQ(calls[2].second.at("project_id"), "1");
    EXPECT_EQ(calls[3].second.at("project_id"), "1");
    EXPECT_EQ(calls[4].second, (Fields{{"project_id", "1"},
                                       {"dept", "-1"},
                                       {"parent", "/"},
                                       {"subfolders", "1"},
                                       {"access_token", token}}));
    EXPECT_TRUE(button(*w, "uploadBtn").isEnabled());
    const std::string password = field(*w, "linkPasswordText").text().toStdString();
    EXPECT_EQ(password.size(), 8u);
    EXPECT_EQ(password.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"),
              std::string::npos);

    // The user's choices, each by a click or by typing.
    forgetApiCalls();
    choose(popUp(*w, "deptPopUp"), "Edit");
    ASSERT_TRUE(waitFor([&] { return lastCall("/projects/folders").count("dept"); }));
    EXPECT_EQ(lastCall("/projects/folders").at("dept"), "11");
    EXPECT_EQ(w->objectForPreferenceKey(C::kSelectedDeptKey), base::Value(11));
    ASSERT_TRUE(waitForLists(*w));
    choose(popUp(*w, "folderPopUp"), "Cuts/Final");
    choose(popUp(*w, "workflowPopUp"), "Approve");
    QTest::keyClicks(&field(*w, "titleText"), "Cut One");
    QTest::keyClicks(widget<QPlainTextEdit>(*w, "descText"), "First cut");
    choose(popUp(*w, "statusPopUp"), "Needs Review");
    click(check(*w, "alertUsersCheck"));
    showTab(*w, 1);
    QTest::keyClicks(&field(*w, "emailText"), "a@x.com, b@y.com");
    click(check(*w, "allowCommentsCheck"));
    click(check(*w, "linkHideDownloadCheck"));
    click(check(*w, "linkAllowRevisionsCheck"));
    choose(popUp(*w, "linkExpiresPopUp"), "After 7 days");
    int ends = 0;
    w->setFinishBlock([&] { ++ends; });
    click(button(*w, "uploadBtn"));

    EXPECT_TRUE(w->finished());
    EXPECT_FALSE(w->cancelled());
    EXPECT_FALSE(w->window()->isVisible());
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(w->projectID(), 1);
    EXPECT_EQ(w->deptID(), 11);
    EXPECT_EQ(w->folder(), "/Cuts/Final");
    EXPECT_EQ(w->workflowID(), 22);
    EXPECT_EQ(w->title(), "Cut One");
    EXPECT_EQ(w->desc(), "First cut");
    EXPECT_EQ(w->status(), 2);
    EXPECT_TRUE(w->alertUsers());
    EXPECT_FALSE(w->autoRevise());
    EXPECT_TRUE(w->allowComments());
    EXPECT_FALSE(w->linkRequirePassword());
    EXPECT_EQ(w->linkPassword(), password);
    EXPECT_TRUE(w->linkHideDownload());
    EXPECT_TRUE(w->linkAccessRevisions());
    EXPECT_EQ(w->linkExpires(), 7);
    // A comma and a space are two separators: the piece between them stays, empty.
    EXPECT_EQ(w->emails(), (std::vector<std::string>{"a@x.com", "", "b@y.com"}));

    struct stat st {};
    ASSERT_EQ(::stat(preferencesPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const base::Dictionary expected{
        {"selectedProjectID", 1},
        {"selectedDept", 11},
        {"selectedFolder", "/Cuts/Final"},
        {"status", 2},
        {"alertUsers", 1},
        {"autoRevise", 0},
        {"linkEmails", "a@x.com, b@y.com"},
        {"linkRequirePassword", 0},
        {"linkHideDownload", 1},
        {"linkAccessRevisions", 1},
        {"linkExpires", 7},
        {"linkAllowComments", 1},
    };
    EXPECT_EQ(base::Value(preferences()), base::Value(expected))
        << base::Value(preferences()).describe();

    // The next load (another day: nothing cached) shows every saved choice again.
    OWQuorvaneCacheController::sharedController().clearAll();
    forgetApiCalls();
    auto again = open();
    ASSERT_TRUE(waitForLists(*again));
    ASSERT_TRUE(
        waitFor([&] { return popUp(*again, "folderPopUp").currentText() == "Cuts/Final"; }));
    EXPECT_EQ(popUp(*again, "projectPopUp").currentText(), "Launch Film");
    EXPECT_EQ(popUp(*again, "deptPopUp").currentText(), "Edit");
    EXPECT_EQ(lastCall("/projects/folders").at("dept"), "11");
    EXPECT_EQ(popUp(*again, "workflowPopUp").currentText(), "(None)");
    EXPECT_EQ(popUp(*again, "statusPopUp").currentIndex(), 2);
    EXPECT_EQ(popUp(*again, "linkExpiresPopUp").currentText(), "After 7 days");
    EXPECT_TRUE(check(*again, "alertUsersCheck").isChecked());
    EXPECT_FALSE(check(*again, "autoReviseCheck").isChecked());
    EXPECT_TRUE(check(*again, "allowCommentsCheck").isChecked());
    EXPECT_TRUE(check(*again, "linkHideDownloadCheck").isChecked());
    EXPECT_FALSE(check(*again, "linkRequirePasswordCheck").isChecked());
    EXPECT_TRUE(check(*again, "linkAllowRevisionsCheck").isChecked());
    EXPECT_TRUE(field(*again, "emailText").text().isEmpty());
    EXPECT_NE(field(*again, "linkPasswordText").text().toStdString(), password);
}

TEST_F(SettingsWindow, AnotherProjectResetsTheSavedPlaceAndARefusalHoldsTheUploadBack) {
    QV_SETTINGS_SERVICE();
    link();
    writePreferences({{"selectedProjectID", 1}, {"selectedDept", 11}, {"selectedFolder", "/Cuts"}});
    auto w = open();
    ASSERT_TRUE(waitForLists(*w));
    ASSERT_TRUE(waitFor([&] { return popUp(*w, "folderPopUp").currentText() == "Cuts"; }));
    EXPECT_EQ(popUp(*w, "deptPopUp").currentText(), "Edit");

    // The project already saved keeps the saved department and folder.
    choose(popUp(*w, "deptPopUp"), "Sound");
    choose(popUp(*w, "projectPopUp"), "Launch Film");
    EXPECT_EQ(preferences().find("selectedDept")->integerValue(), 12);
    EXPECT_EQ(*preferences().find("selectedFolder"), base::Value("/Cuts"));
    ASSERT_TRUE(waitForLists(*w));

    // Another one resets them before its lists arrive, and its refusal shows.
    forgetApiCalls();
    choose(popUp(*w, "projectPopUp"), "Trailer");
    EXPECT_EQ(*preferences().find("selectedProjectID"), base::Value(2));
    EXPECT_EQ(*preferences().find("selectedDept"), base::Value("-1"));
    EXPECT_EQ(*preferences().find("selectedFolder"), base::Value("/"));
    auto* warning = widget<QLabel>(*w, "projectWarning");
    ASSERT_TRUE(waitFor([&] { return warning->isVisible(); }));
    EXPECT_EQ(warning->text(), "You do not have permission to upload files to this project.");
    EXPECT_FALSE(button(*w, "uploadBtn").isEnabled());
    ASSERT_TRUE(waitForLists(*w));
    EXPECT_EQ(apiPaths(), (Paths{"/projects/departments", "/projects/workflows", "/files/canupload",
                                 "/projects/folders"}));
    for (const auto& [path, fields] : apiCalls()) {
        EXPECT_EQ(fields.at("project_id"), "2") << path;
    }
    EXPECT_EQ(itemTexts(popUp(*w, "deptPopUp")), (QStringList{"(None)", "Promo"}));
    QTest::keyClicks(&field(*w, "titleText"), "Teaser");
    QTest::keyClick(&field(*w, "titleText"), Qt::Key_Return);  // the default button is off
    EXPECT_FALSE(w->finished());

    choose(popUp(*w, "projectPopUp"), "Launch Film");
    EXPECT_FALSE(warning->isVisible());
    EXPECT_TRUE(button(*w, "uploadBtn").isEnabled());
    ASSERT_TRUE(waitForLists(*w));
    EXPECT_EQ(popUp(*w, "deptPopUp").currentText(), "(None)");

    // A failed list reaches the user as the client's error; the pop-up stays as it was.
    OWQuorvaneCacheController::sharedController().clearAll();
    service->script("/api/0/projects/departments", R"({"json": {"error": "Lists are resting"}})");
    auto seen = answerNextModal();
    choose(popUp(*w, "projectPopUp"), "Launch Film");
    ASSERT_TRUE(waitFor([&] { return !seen->isEmpty(); }));
    EXPECT_EQ(*seen, "Quorvane Error\nLists are resting");
    EXPECT_TRUE(waitFor([&] { return widget<QWidget>(*w, "spinner")->isHidden(); }));
    EXPECT_EQ(itemTexts(popUp(*w, "deptPopUp")), (QStringList{"(None)", "Edit", "Sound"}));
}

TEST_F(SettingsWindow, ExportIsRefusedWithoutProjectTitleFolderOrAccount) {
    QV_SETTINGS_SERVICE();
    link();
    auto w = open();
    ASSERT_TRUE(waitForLists(*w));
    QDialog& newProject = *widget<QDialog>(*w, "windowNewProject");
    QDialog& newFolder = *widget<QDialog>(*w, "windowNewFolder");

    // "Create new project..." opens its sheet; dismissed, it stays selected.
    choose(popUp(*w, "projectPopUp"), "Create new project...");
    ASSERT_TRUE(waitFor([&] { return QApplication::activeModalWidget() == &newProject; }));
    QTest::keyClick(&newProject, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !newProject.isVisible(); }));
    QTest::keyClicks(&field(*w, "titleText"), "Cut");
    EXPECT_EQ(uploadRefused(*w), "Error\nPlease select a valid project.");
    EXPECT_EQ(w->projectID(), -2);
    EXPECT_EQ(w->title(), "Cut");  // what was read stays in the record

    choose(popUp(*w, "projectPopUp"), "Launch Film");
    field(*w, "titleText").clear();
    EXPECT_EQ(uploadRefused(*w), "Error\nPlease specify a title for the file.");
    EXPECT_EQ(w->projectID(), 1);

    QTest::keyClicks(&field(*w, "titleText"), "Cut");
    choose(popUp(*w, "folderPopUp"), "Create new folder...");
    ASSERT_TRUE(waitFor([&] { return QApplication::activeModalWidget() == &newFolder; }));
    click(button(*w, "cancelNewFolderBtn"));
    ASSERT_TRUE(waitFor([&] { return !newFolder.isVisible(); }));
    EXPECT_EQ(uploadRefused(*w), "Error\nPlease select a valid folder.");
    EXPECT_EQ(w->folder(), C::kCreateNewValue);

    // The account unlinked meanwhile (in the hub): nothing is read or stored.
    choose(popUp(*w, "folderPopUp"), "(Root)");
    OWQuorvaneAuthController::sharedController()->revokeAuthorization();
    EXPECT_EQ(uploadRefused(*w),
              "Error\nPlease authorize with your Quorvane account before "
              "uploading.");
    EXPECT_EQ(w->folder(), C::kCreateNewValue);
    EXPECT_FALSE(w->finished());
    EXPECT_TRUE(w->window()->isVisible());
    EXPECT_EQ(preferences().find("status"), nullptr);
}

TEST_F(SettingsWindow, NewProjectAndNewFolderAreMadeOnTheServiceAndSelected) {
    QV_SETTINGS_SERVICE();
    link();
    auto w = open();
    ASSERT_TRUE(waitForLists(*w));
    QDialog& sheet = *widget<QDialog>(*w, "windowNewProject");

    choose(popUp(*w, "projectPopUp"), "Create new project...");
    ASSERT_TRUE(waitFor([&] { return QApplication::activeModalWidget() == &sheet; }));
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
    auto seen = answerNextModal();
    click(button(*w, "createNewProjectBtn"));
    EXPECT_EQ(*seen, "Unable to create project\nYou must specify a title.");
    EXPECT_TRUE(sheet.isVisible());
    QTest::keyClicks(&field(*w, "newProjectTitle"), "Pilot");
    QTest::keyClick(&field(*w, "newProjectTitle"), Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible());
    ASSERT_TRUE(waitFor([&] { return popUp(*w, "projectPopUp").currentText() == "Pilot"; }));
    const Fields made = lastCall("/projects/create");
    EXPECT_EQ(made.at("title"), "Pilot");
    EXPECT_EQ(made.at("status"), "0");
    const int64_t pilot =
        C::representedValue(popUp(*w, "projectPopUp"), popUp(*w, "projectPopUp").currentIndex())
            .integerValue();
    EXPECT_GE(pilot, 100);
    EXPECT_EQ(*preferences().find("selectedProjectID"), base::Value(pilot));
    ASSERT_TRUE(waitForLists(*w));

    QDialog& folderSheet = *widget<QDialog>(*w, "windowNewFolder");
    choose(popUp(*w, "folderPopUp"), "Create new folder...");
    ASSERT_TRUE(waitFor([&] { return QApplication::activeModalWidget() == &folderSheet; }));
    seen = answerNextModal();
    click(button(*w, "createNewFolderBtn"));
    EXPECT_EQ(*seen, "Unable to create folder\nYou must specify a folder name.");
    QTest::keyClicks(&field(*w, "newFolderTitle"), "Dailies");
    QTest::keyClick(&field(*w, "newFolderTitle"), Qt::Key_Return);
    EXPECT_FALSE(folderSheet.isVisible());
    ASSERT_TRUE(waitFor([&] { return popUp(*w, "folderPopUp").currentText() == "Dailies"; }));
    EXPECT_EQ(lastCall("/folders/create"), (Fields{{"folder", "/Dailies"},
                                                   {"dept", "-1"},
                                                   {"project_id", std::to_string(pilot)},
                                                   {"access_token", token}}));
    EXPECT_EQ(*preferences().find("selectedFolder"), base::Value("/Dailies"));
    EXPECT_EQ(lastCall("/projects/folders").at("project_id"), std::to_string(pilot));
}

TEST_F(SettingsWindow, AnUnlinkedAccountOffersTheHubAndEndsCancelledASecondLater) {
    QV_SETTINGS_SERVICE();
    writePreferences({{"alertUsers", 1}});
    // The export plug-in: the user links the account.
    auto seen = answerNextModal(Qt::Key_Return);
    auto w = C::create();
    QElapsedTimer answered;
    answered.start();
    EXPECT_EQ(*seen,
              "Account not linked\nFirst you need to link the plugin to your account with "
              "Quorvane Plugin Hub. Would you like to launch Quorvane Plugin Hub now?\n\nYou may "
              "need to relaunch Adobe Premiere after doing this.");
    int ends = 0;
    w->showWindow([&] { ++ends; });
    EXPECT_FALSE(w->finished());
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(hub->argumentsFile()); }));
    EXPECT_EQ(testsupport::readFile(hub->argumentsFile()), "\n");  // no documents
    ASSERT_TRUE(waitFor([&] { return w->finished(); }, 5));
    EXPECT_GE(answered.elapsed(), 900);
    EXPECT_TRUE(w->cancelled());
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(w->window()->isVisible());
    EXPECT_TRUE(apiPaths().empty());
    EXPECT_FALSE(check(*w, "alertUsersCheck").isChecked());  // nothing restored
    EXPECT_TRUE(field(*w, "linkPasswordText").text().isEmpty());

    // The share destination: no relaunch hint; declined, the hub stays closed.
    std::filesystem::remove(hub->argumentsFile());
    useBundle(C::kShareDestinationIdentifier);
    seen = answerNextModal(Qt::Key_Escape);
    auto declined = C::create();
    EXPECT_EQ(*seen,
              "Account not linked\nFirst you need to link the plugin to your account with "
              "Quorvane Plugin Hub. Would you like to launch Quorvane Plugin Hub now?");
    ASSERT_TRUE(waitFor([&] { return declined->finished(); }, 5));
    EXPECT_TRUE(declined->cancelled());
    EXPECT_FALSE(std::filesystem::exists(hub->argumentsFile()));
}

TEST_F(SettingsWindow, KeysAloneUploadAccountButtonsReachHubAndSiteEscapeOrCloseBoxCancel) {
    QV_SETTINGS_SERVICE();
    link();
    auto w = open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w->window()));
    ASSERT_TRUE(waitForLists(*w));
    QLineEdit& title = field(*w, "titleText");
    for (int i = 0; i < 12 && QApplication::focusWidget() != &title; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    ASSERT_EQ(QApplication::focusWidget(), &title);
    QTest::keyClicks(&title, "Keyed cut");
    QTest::keyClick(&title, Qt::Key_Return);
    EXPECT_TRUE(w->finished());
    EXPECT_FALSE(w->cancelled());
    EXPECT_EQ(w->title(), "Keyed cut");

    auto escaped = open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(escaped->window()));
    showTab(*escaped, 2);
    click(button(*escaped, "loginBtn"));  // no password asked: the hub links accounts
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(hub->argumentsFile()); }));
    click(button(*escaped, "forgotPassBtn"));
    ASSERT_TRUE(waitFor([&] { return !openedAddresses().empty(); }));
    EXPECT_EQ(openedAddresses(), service->url() + "/lost_password.php\n");
    EXPECT_EQ(escaped->window()->findChild<QLineEdit*>("quorvPass"), nullptr);
    QTest::keyClick(escaped->window(), Qt::Key_Escape);
    EXPECT_TRUE(escaped->finished());
    EXPECT_TRUE(escaped->cancelled());

    auto closed = open();
    int ends = 0;
    closed->setFinishBlock([&] { ++ends; });
    closed->window()->close();
    EXPECT_TRUE(closed->finished());
    EXPECT_TRUE(closed->cancelled());
    EXPECT_EQ(ends, 1);
}

}  // namespace
}  // namespace settingstest
