// The token controller's state table, driven by a scripted exchange on a pumped main
// loop with a manual clock: linking, refresh, failures of every kind, unlinking.
#include <gtest/gtest.h>

#include "base/Format.h"
#include "platform/ui/ScriptedAlertPresenter.h"
#include "tests/client/AuthTestSupport.h"

namespace {

using authtest::AuthControllerTest;
using authtest::kAppName;
using authtest::kHosted;
using Fields = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kPause = "OWQuorvanePauseQueue";
constexpr const char* kChanged = "OWQuorvaneOAuthChanged";
constexpr const char* kUpdate = "OWQuorvaneUpdateSettings";

// ---- addresses ----

TEST_F(AuthControllerTest, AuthorizationAndRevokeAddresses) {
    const std::string state = controller->oauthStateCode();
    ASSERT_EQ(state.size(), 8u);
    EXPECT_EQ(state.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);
    EXPECT_NE(makeController()->oauthStateCode(), state);  // not from a clock-seeded generator

    EXPECT_EQ(controller->oauthAuthorizationURL(),
              std::string(kHosted) +
                  "/authorize?response_type=code&client_id=Hv3PzQ8wLmT5cXr2NbJa&state=" + state);
    EXPECT_EQ(controller->oauthRevokeURL(),
              std::string(kHosted) + "/authorize?revoke=1&client_id=Hv3PzQ8wLmT5cXr2NbJa");

    link("a&b=c d/+");
    EXPECT_EQ(controller->oauthRevokeURL(),
              std::string(kHosted) +
                  "/authorize?revoke=a%26b%3Dc%20d%2F%2B&client_id=Hv3PzQ8wLmT5cXr2NbJa");
}

TEST_F(AuthControllerTest, SiteAddressIsTheCustomServerWithoutOneTrailingSlash) {
    EXPECT_FALSE(controller->isQuorvServer());
    EXPECT_EQ(controller->siteURLString(), kHosted);
    controller->setQuorvServerURLString("https://review.example.org//");
    EXPECT_TRUE(controller->isQuorvServer());
    EXPECT_EQ(controller->siteURLString(), "https://review.example.org/");
}

TEST_F(AuthControllerTest, RandomStringsUseTheirAlphabetAndLength) {
    const std::string s = OWQuorvaneAuthController::randomString(500);
    ASSERT_EQ(s.size(), 500u);
    EXPECT_EQ(s.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);
    EXPECT_NE(s.find_first_of("0123456789"), std::string::npos);
}

// ---- callback ----

TEST_F(AuthControllerTest, CallbackWithMatchingStateRequestsTokensForTheCode) {
    // Scheme in other letters, state before code, code last and percent-encoded.
    controller->handleURL("QUORVHV3PZQ8WLMT5CXR2NBJA://oauth/Authorized?state=" +
                          controller->oauthStateCode() + "&code=ab%2Fc");
    ASSERT_EQ(exchange->sent.size(), 1u);
    const auto& request = exchange->last();
    EXPECT_EQ(request.url, std::string(kHosted) + "/token");
    EXPECT_EQ(request.clientID, authtest::kClientID);
    EXPECT_EQ(request.clientSecret, OWQuorvaneAuthController::kOAuthPKey);
    EXPECT_EQ(request.fields, (Fields{{"grant_type", "authorization_code"}, {"code", "ab/c"}}));
    EXPECT_TRUE(controller->isRefreshingToken());
    EXPECT_EQ(seenNames(), std::vector<std::string>{kPause});
}

TEST_F(AuthControllerTest, CallbacksThatDoNothing) {
    const std::string state = controller->oauthStateCode();
    for (const std::string& address : std::vector<std::string>{
             "quorvother://oauth/authorized?code=x&state=" + state,          // another client
             "https://x/authorized?code=x&state=" + state,                   // not the scheme
             "quorvhv3pzq8wlmt5cxr2nbja://oauth/authorized?state=" + state,  // no code
             "quorvhv3pzq8wlmt5cxr2nbja://oauth/authorized?code=x",          // no state
             "quorvhv3pzq8wlmt5cxr2nbja://oauth/authorized?code=&state=" + state,
             "quorvhv3pzq8wlmt5cxr2nbja://oauth/elsewhere?code=x&state=" + state,
             "quorvhv3pzq8wlmt5cxr2nbja://oauth/authorized?code=%zz&state=" + state,
             "not a url at all",
         }) {
        controller->handleURL(address);
    }
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    EXPECT_TRUE(exchange->sent.empty());
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(alerts.empty());
}

TEST_F(AuthControllerTest, ForgedStateIsRefusedWithAnAlert) {
    controller->handleURL("quorvhv3pzq8wlmt5cxr2nbja://oauth/authorized?code=x&state=forged00");
    EXPECT_TRUE(alerts.empty());  // alerts are handed to the main queue
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    EXPECT_EQ(alerts, std::vector<std::string>{"Unable to authorize - state not valid."});
    EXPECT_TRUE(exchange->sent.empty());
}

TEST_F(AuthControllerTest, RevokedCallbackUnlinks) {
    link();
    controller->handleURL("quorvhv3pzq8wlmt5cxr2nbja://oauth/revoked");
    EXPECT_FALSE(controller->oauthToken());
    EXPECT_EQ(seenNames(), (std::vector<std::string>{kUpdate, kChanged}));
}

// ---- token replies ----

TEST_F(AuthControllerTest, TokenReplyLinksSavesAndResumesInOrder) {
    const double start = clock->now();
    authorize("c0de");
    exchange->reply(
        R"({"access_token":"t1","expires_in":3600,"refresh_token":"r1","user_name":"alice"})");
    EXPECT_EQ(controller->oauthToken(), "t1");
    EXPECT_EQ(controller->oauthRefreshToken(), "r1");
    EXPECT_EQ(controller->username(), "alice");
    EXPECT_EQ(controller->oauthTokenExpires()->secondsSince1970, start + 3600);
    EXPECT_EQ(controller->refreshTimerFireTime(), start + 3540);
    EXPECT_FALSE(controller->isRefreshingToken());
    // Settings are announced while the request still counts as in flight, so clients
    // do not reload in answer; the queues resume after it has ended.
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seenNames(), (std::vector<std::string>{kPause, kUpdate, kChanged}));
    EXPECT_TRUE(seen[1].refreshing);
    EXPECT_FALSE(seen[2].refreshing);

    auto item = keychainFile->find(recordService(), kAppName);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->password, "t1");
    EXPECT_EQ(item->generic, base::format("alice######%0.0f###r1", start + 3600));
    EXPECT_EQ(defaults->string("quorvUserName"), "alice");
}

TEST_F(AuthControllerTest, RefreshTimerFiresAMinuteBeforeExpiry) {
    link();
    clock->advance(3539);
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    EXPECT_EQ(exchange->sent.size(), 1u);
    clock->advance(1);
    ASSERT_TRUE(pumpUntil([&] { return exchange->sent.size() == 2; }));
    EXPECT_EQ(exchange->last().fields,
              (Fields{{"grant_type", "refresh_token"}, {"refresh_token", "r1"}}));

    // No refresh token in the reply: the old one stays. 30 s lifetime: timer at 30 s.
    const double now = clock->now();
    exchange->reply(R"({"access_token":"t2","expires_in":30})");
    EXPECT_EQ(controller->oauthToken(), "t2");
    EXPECT_EQ(controller->oauthRefreshToken(), "r1");
    EXPECT_EQ(controller->refreshTimerFireTime(), now + 30);
}

TEST_F(AuthControllerTest, ATokenWithoutLifetimeDoesNotRefreshInALoop) {
    link();
    for (const char* reply : {R"({"access_token":"t2"})", R"({"access_token":"t3","expires_in":0})",
                              R"({"access_token":"t4","expires_in":-500})"}) {
        controller->refreshOAuthToken();
        const double now = clock->now();
        exchange->reply(reply);
        EXPECT_FALSE(controller->isRefreshingToken());
        EXPECT_EQ(controller->refreshTimerFireTime(), now + 30) << reply;
        mainLoop().run(base::kDefaultRunLoopMode, 0);
        EXPECT_EQ(exchange->pending(), 0u) << reply;
    }
    EXPECT_EQ(controller->oauthTokenExpires()->secondsSince1970, clock->now() - 500);
}

TEST_F(AuthControllerTest, InvalidRefreshTokenUnlinks) {
    link();
    controller->refreshOAuthToken();
    exchange->reply(R"({"error":"invalid_grant","error_description":"Invalid refresh token"})",
                    400);
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    EXPECT_FALSE(controller->oauthToken());
    EXPECT_FALSE(controller->oauthRefreshToken());
    EXPECT_FALSE(controller->username());
    EXPECT_FALSE(controller->privateKey());
    EXPECT_FALSE(controller->refreshTimerFireTime());
    EXPECT_FALSE(keychainFile->find(recordService(), kAppName));
    EXPECT_EQ(defaults->object("quorvUserName"), base::Value());
    EXPECT_EQ(alerts, std::vector<std::string>{"Please reauthorize this app."});
    EXPECT_EQ(seenNames(), (std::vector<std::string>{kPause, kUpdate, kChanged, kChanged}));
    EXPECT_FALSE(seen.back().refreshing);
}

TEST_F(AuthControllerTest, OtherServiceErrorsKeepTheTokens) {
    link();
    controller->refreshOAuthToken();
    exchange->reply(R"({"error":"temporarily_unavailable","error_description":"Try later"})", 503);
    controller->fetchOAuthToken("c", false);
    exchange->reply(R"({"error":"server_error"})", 500);
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    EXPECT_EQ(controller->oauthToken(), "t1");
    EXPECT_EQ(controller->oauthRefreshToken(), "r1");
    EXPECT_EQ(alerts, (std::vector<std::string>{
                          "Error authorizing app - temporarily_unavailable\n\nTry later",
                          "Error authorizing app - server_error\n\n(null)"}));
    ASSERT_EQ(seenNames(), (std::vector<std::string>{kPause, kChanged, kPause, kChanged}));
    EXPECT_FALSE(seen[1].refreshing);  // resumed clients see the request ended
    EXPECT_FALSE(seen[3].refreshing);
}

TEST_F(AuthControllerTest, UnreadableRepliesResumeTheQueuesAndKeepTheTokens) {
    link();
    for (const std::string& body :
         {std::string(), std::string("<html><body>Bad gateway</body></html>"),
          std::string("\xff\xfe{}"), std::string("[\"access_token\"]"),
          std::string(R"({"token_type":"bearer"})"), std::string(R"({"access_token":5})"),
          std::string(R"({"access_token":null,"refresh_token":"evil"})")}) {
        seen.clear();
        controller->refreshOAuthToken();
        exchange->reply(body);
        EXPECT_EQ(seenNames(), (std::vector<std::string>{kPause, kChanged})) << body;
        EXPECT_FALSE(seen.back().refreshing) << body;
        EXPECT_EQ(controller->oauthToken(), "t1") << body;
        EXPECT_EQ(controller->oauthRefreshToken(), "r1") << body;
    }
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    EXPECT_TRUE(alerts.empty());
}

TEST_F(AuthControllerTest, TransportFailureAlertsAndKeepsTheTokens) {
    link();
    controller->refreshOAuthToken();
    exchange->fail(401, R"({"error":"invalid_client"})");
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    EXPECT_EQ(controller->oauthToken(), "t1");
    EXPECT_EQ(alerts, std::vector<std::string>{"Unable to get authorization token."});
    EXPECT_EQ(seenNames(), (std::vector<std::string>{kPause, kChanged}));
    EXPECT_FALSE(seen.back().refreshing);
}

// ---- requests refused or held back ----

TEST_F(AuthControllerTest, RequestsWithNothingToSendPostNothing) {
    controller->fetchOAuthToken(std::nullopt, false);
    controller->refreshOAuthToken();  // no refresh token yet
    EXPECT_TRUE(exchange->sent.empty());
    EXPECT_TRUE(seen.empty());
    EXPECT_FALSE(controller->isRefreshingToken());
}

TEST_F(AuthControllerTest, MissingClientIdEndsTheRequestItPaused) {
    controller = makeController(std::nullopt);
    controller->fetchOAuthToken("code", false);
    EXPECT_TRUE(exchange->sent.empty());
    EXPECT_EQ(seenNames(), (std::vector<std::string>{kPause, kChanged}));
    EXPECT_FALSE(seen.back().refreshing);
}

TEST_F(AuthControllerTest, NoSecondRefreshWhileOneIsInFlight) {
    link();
    controller->refreshOAuthToken();
    controller->refreshOAuthToken();
    EXPECT_EQ(exchange->pending(), 1u);
}

TEST_F(AuthControllerTest, PasswordGrantSendsLoginAndPassword) {
    controller->fetchOAuthToken(std::nullopt, false, "pa&ss", "alice@example.com");
    EXPECT_EQ(exchange->last().fields, (Fields{{"grant_type", "password"},
                                               {"username", "alice@example.com"},
                                               {"password", "pa&ss"}}));
}

TEST_F(AuthControllerTest, ClientSecretIsChosenOnceUntilUnlinking) {
    link();
    controller->setQuorvServerURLString("https://review.example.org");
    controller->refreshOAuthToken();
    EXPECT_EQ(exchange->last().url, "https://review.example.org/token");
    EXPECT_EQ(exchange->last().clientSecret, OWQuorvaneAuthController::kOAuthPKey);
    exchange->reply(R"({"access_token":"t2","expires_in":3600})");

    controller->revokeAuthorization();
    controller->setQuorvServerURLString("https://review.example.org");
    controller->fetchOAuthToken("code", false);
    EXPECT_EQ(exchange->last().clientSecret, OWQuorvaneAuthController::kServerOAuthPKey);
}

// ---- unlinking ----

TEST_F(AuthControllerTest, UnlinkingRemovesTheRecordAndTheOlderRecords) {
    using platform::keychain::Item;
    link();
    ASSERT_EQ(keychainFile->add({recordService(), "alice", "x", std::nullopt}),
              platform::keychain::Status::Success);
    ASSERT_EQ(keychainFile->add({recordService(), "password", "x", std::nullopt}),
              platform::keychain::Status::Success);
    ASSERT_EQ(keychainFile->add({"com.oxburyworks.quorvane", kAppName, "t0", "a###b###0###r0"}),
              platform::keychain::Status::Success);
    ASSERT_EQ(keychainFile->add(
                  {"com.oxburyworks.quorvane", "alice@example.com", "secret", "alice###x###"}),
              platform::keychain::Status::Success);
    ASSERT_EQ(keychainFile->add({"elsewhere", kAppName, "keep", std::nullopt}),
              platform::keychain::Status::Success);

    controller->revokeAuthorization();
    EXPECT_TRUE(keychainFile->list(recordService(), 10).empty());
    EXPECT_TRUE(keychainFile->list("com.oxburyworks.quorvane", 10).empty());
    EXPECT_TRUE(keychainFile->find("elsewhere", kAppName));
    EXPECT_EQ(seenNames(), (std::vector<std::string>{kUpdate, kChanged}));

    // Nothing is left that the next load could link the account with.
    controller->loadSavedSettings();
    EXPECT_FALSE(controller->oauthToken());
    EXPECT_TRUE(exchange->pending() == 0);
}

TEST_F(AuthControllerTest, AControllerThatIsGoneReceivesNoReply) {
    authorize("c0de");
    controller.reset();
    exchange->reply(R"({"access_token":"t1","expires_in":3600})");
    EXPECT_EQ(seenNames(), std::vector<std::string>{kPause});
}

}  // namespace

namespace {

TEST_F(AuthControllerTest, AlertsAreModalPanelsTitledQuorvaneError) {
    auto presenter = std::make_shared<platform::ui::ScriptedAlertPresenter>();
    auto previous = platform::ui::AlertPresenter::current();
    platform::ui::AlertPresenter::setCurrent(presenter);
    OWQuorvaneAuthController::Services services;
    services.center = &center;
    auto plain = OWQuorvaneAuthController::create(kAppName, std::string("id"), services);
    plain->showAlert("100% wrong");
    EXPECT_TRUE(presenter->presented().empty());
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    platform::ui::AlertPresenter::setCurrent(previous);
    EXPECT_TRUE(presenter->answerPending(1));  // nobody waits for the answer
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    ASSERT_EQ(presenter->presented().size(), 1u);
    EXPECT_EQ(presenter->presented()[0].messageText, "Quorvane Error");
    EXPECT_EQ(presenter->presented()[0].informativeText, "100% wrong");
    EXPECT_EQ(presenter->presented()[0].parentWindow, nullptr);
}

}  // namespace

namespace {

TEST(AuthControllerShared, TheFirstCreationWinsAndItsArgumentsStay) {
    auto first = OWQuorvaneAuthController::sharedController(std::string("First App"),
                                                            std::string("key1"), true);
    auto second = OWQuorvaneAuthController::sharedController(std::string("Second"),
                                                             std::string("key2"), false);
    EXPECT_EQ(first, second);
    EXPECT_EQ(OWQuorvaneAuthController::sharedController(), first);
    EXPECT_EQ(second->appName(), "First App");
    EXPECT_EQ(second->publicKey(), "key1");
    EXPECT_EQ(second->opQueue()->maxConcurrentOperationCount(), 1);
}

}  // namespace
