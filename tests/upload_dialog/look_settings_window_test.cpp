// Pictures of the upload-settings window filled from the stand-in service, for a person
// to look at: every tab, the open pop-up lists with their images, the refusal warning
// and the new-project sheet, with long names throughout; and an account without projects.
#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include "tests/upload_dialog/SettingsWindowSupport.h"

namespace settingstest {
namespace {

const char* const kLongCatalogue = R"json([
  {"id": 1, "title": "Northern Lights Documentary - Series Two (Broadcast Master)",
   "departments": [{"id": 11, "title": "Editorial"}, {"id": 12, "title": "Sound Design and Mix"}],
   "folders": [{"path": "/", "title": "Cuts", "dept": -1},
               {"path": "/Cuts", "title": "Episode 04 - Fine Cut for Network Review", "dept": -1},
               {"path": "/", "title": "Stills", "dept": -1}],
   "workflows": [{"id": 21, "name": "Producer Review"}, {"id": 22, "name": "Legal Clearance"}]},
  {"id": 2, "title": "Trailer", "uploads": false},
  {"id": 3, "title": "Festival Submissions"}
])json";

class SettingsWindowLook : public SettingsWindowTest {};

TEST_F(SettingsWindowLook, EveryTabListSheetAndWarning) {
    QV_SETTINGS_SERVICE(kLongCatalogue);
    link();
    writePreferences({{"selectedProjectID", 1},
                      {"selectedFolder",
                       "/Cuts/Episode 04 - Fine Cut "
                       "for Network Review"}});
    auto w = QuorvSettingsController::create();
    w->setTitle(std::string(200, 'x').replace(0, 28, "Northern_Lights_S02E04_FINE_"));
    w->showWindow();
    ASSERT_TRUE(waitForLists(*w));
    ASSERT_TRUE(waitFor(
        [&] { return widget<QComboBox>(*w, "folderPopUp")->currentText().startsWith("Cuts/"); }));
    QDialog& window = *w->window();
    EXPECT_FALSE(saveScreenshot(window, "settings-upload").empty());

    for (const char* name : {"projectPopUp", "deptPopUp", "folderPopUp", "workflowPopUp"}) {
        QComboBox& popUp = *widget<QComboBox>(*w, name);
        popUp.showPopup();
        ASSERT_TRUE(waitFor([&] { return popUp.view()->isVisible(); }));
        EXPECT_FALSE(
            saveScreenshot(*popUp.view()->window(), std::string("settings-list-") + name).empty());
        popUp.hidePopup();
    }

    auto& tabs = *widget<QTabWidget>(*w, "tabView");
    tabs.setCurrentIndex(1);
    QTest::keyClicks(widget<QLineEdit>(*w, "emailText"),
                     "editor@example.com, producer@example.com");
    EXPECT_FALSE(saveScreenshot(window, "settings-sharing").empty());
    tabs.setCurrentIndex(2);
    EXPECT_FALSE(saveScreenshot(window, "settings-account").empty());
    tabs.setCurrentIndex(0);
    ASSERT_TRUE(waitForLists(*w));

    choose(*widget<QComboBox>(*w, "projectPopUp"), "Trailer");
    ASSERT_TRUE(waitFor([&] { return widget<QLabel>(*w, "projectWarning")->isVisible(); }));
    ASSERT_TRUE(waitForLists(*w));
    EXPECT_FALSE(saveScreenshot(window, "settings-refused").empty());

    choose(*widget<QComboBox>(*w, "projectPopUp"), "Create new project...");
    QDialog& sheet = *widget<QDialog>(*w, "windowNewProject");
    ASSERT_TRUE(waitFor([&] { return sheet.isVisible(); }));
    QTest::keyClicks(widget<QLineEdit>(*w, "newProjectTitle"), "Northern Lights - Series Three");
    EXPECT_FALSE(saveScreenshot(sheet, "settings-new-project").empty());
    w->cancelNewProject();
}

TEST_F(SettingsWindowLook, AnAccountWithoutProjects) {
    QV_SETTINGS_SERVICE("[]");
    link();
    auto w = QuorvSettingsController::create();
    w->setTitle("Northern_Lights_S02E04_FINE_CUT");
    w->showWindow();
    ASSERT_TRUE(waitFor([&] { return widget<QLabel>(*w, "projectWarning")->isVisible(); }));
    EXPECT_FALSE(saveScreenshot(*w->window(), "settings-no-projects").empty());
}

}  // namespace
}  // namespace settingstest
