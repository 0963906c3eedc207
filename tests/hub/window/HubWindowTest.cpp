#include "tests/hub/window/HubWindowTest.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <cstdlib>
#include <sstream>

#include "apps/hub/window/OWQuorvaneAuthProtocol.h"
#include "base/Format.h"
#include "base/RunLoop.h"
#include "base/Url.h"
#include "base/Workspace.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneAuthController.h"
#include "tests/helpers/RunTool.h"
#include "tests/helpers/TempDir.h"

namespace hubtest {

fakes::FakeService* HubWindowTest::service = nullptr;

namespace {

// The stand-in for the default browser and the file where it writes what it opened.
testsupport::TempDir& browserFolder() {
    static testsupport::TempDir folder;
    return folder;
}
std::string openedFile() {
    return browserFolder().file("opened");
}

}  // namespace

std::string jsText(const std::string& text) {
    return "decodeURIComponent('" + base::Url::percentEncode(text) + "')";
}

std::string HubWindowTest::clientID() {
    return OWQuorvaneAuthController::sharedController()->publicKey().value_or("");
}

void HubWindowTest::SetUpTestSuite() {
    service =
        new fakes::FakeService({"--client", clientID() + ":" + OWQuorvaneAuthController::kOAuthPKey,
                                "--user", std::string(kUser) + ":" + kPassword, "--sign-in-page"});
    if (service->running()) {
        ::setenv(OWQuorvaneAuthController::kSiteURLEnvironment, service->url().c_str(), 1);
    }
    const std::string browser = browserFolder().write(
        "browser", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + openedFile() + "'\n");
    ::chmod(browser.c_str(), 0755);
    ::setenv(base::Workspace::kURLOpenerEnvironment, browser.c_str(), 1);
}

void HubWindowTest::TearDownTestSuite() {
    delete service;
    service = nullptr;
}

void HubWindowTest::SetUp() {
    DesktopTest::SetUp();
    QV_REQUIRE_SERVICE(*service);
    service->request("POST", "/_control/reset");
    auto controller = OWQuorvaneAuthController::sharedController();
    controller->revokeAuthorization();
    controller->setQuorvServerURLString("");
    ::unlink(openedFile().c_str());
    app = std::make_unique<AppDelegate>();
    app->applicationDidFinishLaunching();
    ASSERT_TRUE(waitForUnlinkedPage());
}

void HubWindowTest::TearDown() {
    app.reset();
    DesktopTest::TearDown();
}

OWQuorvaneAuthDelegate& HubWindowTest::linking() const {
    return *OWQuorvaneAuthDelegate::sharedController();
}

QWebEngineView& HubWindowTest::view() const {
    return *linking().webView();
}

QVariant HubWindowTest::evaluate(const std::string& script, double seconds) const {
    auto result = std::make_shared<std::optional<QVariant>>();
    view().page()->runJavaScript(QString::fromStdString(script),
                                 [result](const QVariant& value) { *result = value; });
    // A page that is replaced while the script runs never answers.
    waitFor([&] { return result->has_value(); }, seconds);
    return result->value_or(QVariant());
}

bool HubWindowTest::waitForScript(const std::string& script, double seconds) const {
    return waitFor([&] { return evaluate(script, 1).toBool(); }, seconds);
}

bool HubWindowTest::waitForUnlinkedPage() const {
    return waitForScript(
        "document.readyState === 'complete' && !!document.querySelector('#button-container "
        "button') && document.querySelector('#button-container button').textContent === "
        "'Authorize this app'");
}

bool HubWindowTest::waitForLinkedPage() const {
    return waitForScript(
        "document.readyState === 'complete' && !!document.querySelector('.account-info')");
}

void HubWindowTest::click(const std::string& selector) const {
    const QVariantList centre =
        evaluate(base::format("(function() { var r = document.querySelector(\"%@\")"
                              ".getBoundingClientRect(); return [r.left + r.width / 2, r.top + "
                              "r.height / 2]; })()",
                              selector))
            .toList();
    ASSERT_EQ(centre.size(), 2) << selector;
    QWidget* target = view().focusProxy() ? view().focusProxy() : &view();
    const QPoint point(static_cast<int>(centre[0].toDouble()),
                       static_cast<int>(centre[1].toDouble()));
    QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, point);
}

void HubWindowTest::signInThroughTheWindow(const std::string& user, const std::string& password) {
    click("#button-container button");
    ASSERT_TRUE(waitForScript("!!document.getElementById('allow')"))
        << "the service's sign-in page did not come";
    const std::string fill = base::format(
        "document.getElementById('username').value = %@;"
        "document.getElementById('password').value = %@; true",
        jsText(user), jsText(password));
    ASSERT_TRUE(evaluate(fill).toBool());
    click("#allow");
}

void HubWindowTest::linkDirectly(const std::string& user) {
    auto controller = OWQuorvaneAuthController::sharedController();
    const auto reply = service->request(
        "POST", "/authorize",
        base::format("username=%@&password=%@&client_id=%@&state=%@&response_type=code",
                     base::Url::percentEncode(user), base::Url::percentEncode(kPassword),
                     clientID(), controller->oauthStateCode()));
    ASSERT_EQ(reply.status, 302);
    ASSERT_TRUE(OWQuorvaneAuthProtocol::canInitWithRequest(reply.location()));
    ASSERT_TRUE(waitFor([&] { return controller->oauthToken() && app->quorv()->isLinked(); }));
    ASSERT_TRUE(waitForLinkedPage());
}

std::vector<std::string> HubWindowTest::opened() const {
    std::vector<std::string> lines;
    std::istringstream in(testsupport::readFile(openedFile()));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::optional<platform::keychain::Item> HubWindowTest::keychainRecord() const {
    platform::keychain::KeychainFile file(platform::keychain::KeychainFile::defaultFolder());
    return file.find(kRecordService, kAppName);
}

std::string HubWindowTest::hubHandOver() const {
    return testsupport::runTool(
               {std::string(QV_HUB_BUNDLE) + "/Contents/MacOS/Quorvane Plugin Hub", "-oauth"})
        .out;
}

int HubWindowTest::requestsTo(const std::string& method, const std::string& path) const {
    const std::string log = service->log();
    const std::string needle = base::format("\"method\": \"%@\", \"path\": \"%@\"", method, path);
    int count = 0;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace hubtest
