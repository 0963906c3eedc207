#pragma once
// A fixture that runs the hub's window as the program does (AppDelegate, the shared
// linking controller, the real web engine) against the stand-in service with its
// sign-in page. Pages are read and driven through their own JavaScript and real mouse
// clicks; the default browser is a script that records the addresses it is given.
#include <QVariant>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/hub/window/AppDelegate.h"
#include "apps/hub/window/OWQuorvaneAuthDelegate.h"
#include "platform/keychain/KeychainFile.h"
#include "tests/fakes/FakeService.h"
#include "tests/helpers/desktop/DesktopTest.h"

class QWebEngineView;

namespace hubtest {

inline constexpr const char* kUser = "alice";
inline constexpr const char* kPassword = "s3cret-pass";
inline constexpr const char* kRecordService = "Quorvane - Quorvane Plugin Hub";
inline constexpr const char* kAppName = "Quorvane Plugin Hub";

// A JavaScript expression whose value is `text`, whatever characters it holds.
std::string jsText(const std::string& text);

class HubWindowTest : public testsupport::DesktopTest {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    static std::string clientID();
    OWQuorvaneAuthDelegate& linking() const;
    QWebEngineView& view() const;

    // The script's value in the page; an invalid value when it gave none in time.
    QVariant evaluate(const std::string& script, double seconds = 10) const;
    // Waits until the script is true in the page.
    bool waitForScript(const std::string& script, double seconds = 20) const;
    bool waitForUnlinkedPage() const;
    bool waitForLinkedPage() const;
    // A real mouse click in the middle of the element.
    void click(const std::string& selector) const;
    // Through the window: "Authorize this app", the sign-in form, "Allow".
    void signInThroughTheWindow(const std::string& user, const std::string& password);
    // Without the window: the sign-in form posted, the callback handed to the token
    // controller, the tokens fetched.
    void linkDirectly(const std::string& user = kUser);

    std::optional<platform::keychain::Item> keychainRecord() const;
    // The hub program's "-oauth" answer in this environment.
    std::string hubHandOver() const;
    // The requests the service saw to `path`.
    int requestsTo(const std::string& method, const std::string& path) const;

    // The addresses sent to the default browser so far.
    std::vector<std::string> opened() const;

    static fakes::FakeService* service;
    std::unique_ptr<AppDelegate> app;
};

}  // namespace hubtest
