// The token controller against the stand-in service over real HTTP: linking through the
// authorization page, the exact grant bodies and the pre-emptive client credentials,
// refresh, revoke, and the service's failures.
#include <gtest/gtest.h>

#include "base/Format.h"
#include "client/json/QMJSON.h"
#include "platform/crypto/Base64.h"
#include "platform/ui/ScriptedAlertPresenter.h"
#include "tests/client/AuthTestSupport.h"
#include "tests/fakes/FakeService.h"

namespace {

using authtest::kAppName;
using authtest::kClientID;

class PeerAuthTest : public authtest::AuthControllerTest {
  protected:
    void SetUp() override {
        AuthControllerTest::SetUp();
        previousPresenter = platform::ui::AlertPresenter::current();
        platform::ui::AlertPresenter::setCurrent(presenter);
        controller = realController();
    }
    void TearDown() override {
        while (presenter->answerPending(1)) {
        }
        mainLoop().run(base::kDefaultRunLoopMode, 0);
        platform::ui::AlertPresenter::setCurrent(previousPresenter);
        AuthControllerTest::TearDown();
    }

    // The controller's own exchange (form requests) and alert panel.
    std::shared_ptr<OWQuorvaneAuthController> realController() {
        OWQuorvaneAuthController::Services services;
        services.keychain = keychain.get();
        services.defaults = defaults;
        services.center = &center;
        services.hostedSiteURL = service.url();
        return OWQuorvaneAuthController::create(kAppName, std::string(kClientID), services);
    }
    // Follows the authorization page to the callback and waits for the token reply.
    void linkThroughThePage() {
        auto page = service.request(
            "GET", "/authorize?response_type=code&client_id=" + std::string(kClientID) +
                       "&state=" + controller->oauthStateCode());
        ASSERT_EQ(page.status, 302);
        controller->handleURL(page.location());
        ASSERT_TRUE(controller->isRefreshingToken());
        waitForReply();
    }
    void waitForReply() {
        ASSERT_TRUE(pumpUntil([&] { return !controller->isRefreshingToken(); }, 30));
        mainLoop().run(base::kDefaultRunLoopMode, 0);  // queued alerts
    }
    // The request log entries for `path`.
    base::Array logged(const std::string& path) {
        QMJSON json;
        base::Array entries;
        auto log = json.objectWithString(service.log());
        if (log && log->array()) {
            for (const base::Value& entry : *log->array()) {
                if (entry["path"].stringValue() == path) {
                    entries.push_back(entry);
                }
            }
        }
        return entries;
    }
    std::vector<std::string> alertTexts() const {
        std::vector<std::string> texts;
        for (const auto& request : presenter->presented()) {
            EXPECT_EQ(request.messageText, "Quorvane Error");
            texts.push_back(request.informativeText);
        }
        return texts;
    }

    fakes::FakeService service{{"--client",
                                std::string(kClientID) + ":" + OWQuorvaneAuthController::kOAuthPKey,
                                "--user", "alice@example.com:s3cret"}};
    std::shared_ptr<platform::ui::ScriptedAlertPresenter> presenter =
        std::make_shared<platform::ui::ScriptedAlertPresenter>();
    std::shared_ptr<platform::ui::AlertPresenter> previousPresenter;
};

TEST_F(PeerAuthTest, LinksWithTheCodeAndPresentsClientCredentialsAtOnce) {
    QV_REQUIRE_SERVICE(service);
    linkThroughThePage();
    ASSERT_TRUE(controller->oauthToken());
    EXPECT_EQ(controller->username(), "alice");
    EXPECT_TRUE(controller->oauthRefreshToken());
    EXPECT_EQ(controller->refreshTimerFireTime(), clock->now() + 3540);

    const base::Array token = logged("/token");
    ASSERT_EQ(token.size(), 1u);  // no challenge round trip
    const std::string credentials = platform::crypto::Base64::encode(
        std::string(kClientID) + ":" + OWQuorvaneAuthController::kOAuthPKey);
    EXPECT_EQ(token[0]["headers"]["Authorization"].stringValue(), "Basic " + credentials);
    EXPECT_EQ(token[0]["body"].stringValue().rfind("grant_type=authorization_code&code=", 0), 0u);
    EXPECT_TRUE(alertTexts().empty());
    EXPECT_EQ(keychainFile->find(recordService(), kAppName)->password, controller->oauthToken());
}

TEST_F(PeerAuthTest, TheTimerRefreshesWithTheRefreshToken) {
    QV_REQUIRE_SERVICE(service);
    linkThroughThePage();
    const auto first = controller->oauthToken();
    const auto refresh = controller->oauthRefreshToken();
    clock->advance(3540);
    ASSERT_TRUE(pumpUntil([&] { return controller->isRefreshingToken(); }));
    waitForReply();
    EXPECT_NE(controller->oauthToken(), first);
    EXPECT_EQ(controller->oauthRefreshToken(), refresh);  // the service did not rotate it
    const base::Array token = logged("/token");
    ASSERT_EQ(token.size(), 2u);
    EXPECT_EQ(token[1]["body"].stringValue(), "grant_type=refresh_token&refresh_token=" + *refresh);
}

TEST_F(PeerAuthTest, ARevokedAccountIsUnlinkedOnItsNextRefresh) {
    QV_REQUIRE_SERVICE(service);
    linkThroughThePage();
    auto page = service.request(
        "GET", "/authorize?revoke=" + *controller->oauthToken() + "&client_id=" + kClientID);
    controller->handleURL(page.location());
    EXPECT_FALSE(controller->oauthToken());

    // Another program still holding the old tokens refreshes with them.
    linkThroughThePage();
    service.request("GET",
                    "/authorize?revoke=" + *controller->oauthToken() + "&client_id=" + kClientID);
    controller->refreshOAuthToken();
    waitForReply();
    EXPECT_FALSE(controller->oauthToken());
    EXPECT_FALSE(keychainFile->find(recordService(), kAppName));
    EXPECT_EQ(alertTexts(), std::vector<std::string>{"Please reauthorize this app."});
}

TEST_F(PeerAuthTest, PasswordGrantSendsItsExactBody) {
    QV_REQUIRE_SERVICE(service);
    controller->fetchOAuthToken(std::nullopt, false, "s3cret", "alice@example.com");
    waitForReply();
    EXPECT_EQ(controller->username(), "alice@example.com");
    EXPECT_EQ(logged("/token")[0]["body"].stringValue(),
              "grant_type=password&username=alice%40example.com&password=s3cret");
}

TEST_F(PeerAuthTest, ServiceFailuresKeepTheTokens) {
    QV_REQUIRE_SERVICE(service);
    linkThroughThePage();
    const auto token = controller->oauthToken();
    const std::vector<std::string> faults = {
        R"({"text":"<html><body>Bad gateway</body></html>","status":502})",
        R"({"text":""})",
        R"({"base64":"//79AA=="})",
        R"({"json":{"token_type":"bearer"}})",
        R"({"json":["access_token"]})",
        R"({"json":{"error":"server_error","error_description":"Down"},"status":500})",
        R"({"text":"slow","delay":0.3})",
        R"({"drop":true})",
        R"({"json":{"error":"invalid_client"},"status":401,)"
        R"("headers":{"WWW-Authenticate":"Basic realm=\"q\""}})",
    };
    for (const std::string& fault : faults) {
        seen.clear();
        // A challenge is answered once more with the same credentials: refuse both.
        service.script("/token", fault, fault.find("401") != std::string::npos ? 5 : 1);
        controller->refreshOAuthToken();
        waitForReply();
        EXPECT_EQ(controller->oauthToken(), token) << fault;
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().name, "OWQuorvaneOAuthChanged") << fault;
        EXPECT_FALSE(seen.back().refreshing) << fault;
    }
    const auto texts = alertTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Error authorizing app - server_error\n\nDown"),
              texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Unable to get authorization token."),
              texts.end());
}

TEST_F(PeerAuthTest, AWrongClientSecretIsRefused) {
    QV_REQUIRE_SERVICE(service);
    controller->setQuorvServerURLString(service.url());  // custom server: the other secret
    auto page =
        service.request("GET", "/authorize?response_type=code&client_id=" + std::string(kClientID) +
                                   "&state=" + controller->oauthStateCode());
    controller->handleURL(page.location());
    waitForReply();
    EXPECT_FALSE(controller->oauthToken());
    EXPECT_FALSE(alertTexts().empty());
}

}  // namespace
