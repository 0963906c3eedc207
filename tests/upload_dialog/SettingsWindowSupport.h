#pragma once
// The upload-settings window against the stand-in service: a private home for the
// preference file and the keychain, the stand-in with the test's project catalogue and
// an account linked by writing the token it issues into the hub's keychain record, a
// bundle that carries the pop-up images, and a stand-in hub whose launch is recorded.
#include <QComboBox>
#include <QDialog>
#include <QStringList>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Value.h"
#include "tests/fakes/FakeHub.h"
#include "tests/fakes/FakeService.h"
#include "tests/helpers/TempDir.h"
#include "tests/helpers/desktop/DesktopTest.h"
#include "upload_dialog/QuorvSettingsController.h"

namespace settingstest {

// Two projects: "Launch Film" (departments, nested folders, a workflow and one with id
// -1) and "Trailer", to which uploads are refused.
extern const char* const kCatalogue;

using Fields = std::map<std::string, std::string>;

class SettingsWindowTest : public testsupport::DesktopTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the stand-in with `catalogue` (JSON); false when it cannot run here.
    bool startService(const char* catalogue = kCatalogue);
    // A token issued by the stand-in's control endpoint, in the hub's keychain record.
    void link();
    // The bundle the window's class is shipped in, with `identifier`.
    void useBundle(const std::string& identifier);
    // Creates the window (its load step included) and shows it.
    std::shared_ptr<QuorvSettingsController> open();
    // Waits until every pop-up has been filled and the spinner has stopped.
    bool waitForLists(const QuorvSettingsController& window);

    // The API calls the stand-in received: path (without "/api/0") and fields.
    std::vector<std::pair<std::string, Fields>> apiCalls() const;
    std::vector<std::string> apiPaths() const;
    void forgetApiCalls() const;

    template <class T>
    static T* widget(const QuorvSettingsController& window, const char* name) {
        return window.window()->findChild<T*>(name);
    }
    static QStringList itemTexts(const QComboBox& popUp);
    // Opens the pop-up's list and clicks the item with `text`, as a user does.
    static void choose(QComboBox& popUp, const QString& text);
    static void click(QWidget& button);
    // Answers the next modal box with `key` as a user would; the box's texts (message
    // and informative text, or the window title of another dialog) land in the result.
    static std::shared_ptr<QString> answerNextModal(Qt::Key key = Qt::Key_Return);

    // The addresses handed to the default handler, one per line.
    std::string openedAddresses() const;
    base::Dictionary preferences() const;
    void writePreferences(const base::Dictionary& values) const;
    std::string preferencesPath() const;

    testsupport::TempDir dir;
    std::unique_ptr<fakes::FakeService> service;
    std::unique_ptr<fakes::FakeHub> hub;
    std::string token;
};

// Skips (or in CI fails) when the stand-in cannot run.
#define QV_SETTINGS_SERVICE(...)                            \
    do {                                                    \
        if (!startService(__VA_ARGS__)) {                   \
            const char* ci = std::getenv("CI");             \
            if (ci && std::string(ci) == "true") {          \
                FAIL() << "stand-in service unavailable";   \
            }                                               \
            GTEST_SKIP() << "stand-in service unavailable"; \
        }                                                   \
    } while (0)

}  // namespace settingstest
