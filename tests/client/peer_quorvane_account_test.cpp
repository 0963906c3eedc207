// Clients that share the token controller, against the stand-in's /token and API: the
// pause and resume that token requests bring, the shared reply cache emptied once for
// a new user, calls that wait for a refresh and then carry the new token, and a client
// that goes away while its reply is on the way.
#include <gtest/gtest.h>

#include "base/Format.h"
#include "client/json/QMJSON.h"
#include "tests/client/PeerQuorvaneSupport.h"

namespace {

using peerquorvane::RecordingDelegate;

class PeerQuorvaneAccount : public peerquorvane::PeerQuorvaneTest {
  protected:
    size_t statusChanges(const RecordingDelegate& delegate) const {
        size_t n = 0;
        for (const auto& c : delegate.callbacks()) {
            n += c.name == "quorvaneOAuthStatusChanged" ? 1 : 0;
        }
        return n;
    }
    std::string loggedToken(const base::Value& entry) const {
        for (const auto& [name, value] : fieldsOf(entry)) {
            if (name == "access_token") {
                return value;
            }
        }
        return {};
    }
    // The controller's callback for a fresh code from the authorization page.
    void authorizeAgain() {
        const auto page = service.request(
            "GET", "/authorize?response_type=code&client_id=" + std::string(authtest::kClientID) +
                       "&state=" + controller->oauthStateCode());
        ASSERT_EQ(page.status, 302);
        controller->handleURL(page.location());
    }
};

TEST_F(PeerQuorvaneAccount, TwoClientsPauseTogetherAndOneChangeResumesBothAndClearsTheCacheOnce) {
    QV_PEER_SETUP();
    link();
    auto delegateA = std::make_shared<RecordingDelegate>();
    auto a = makeClient(delegateA);
    // Between the two clients: a reply stored after the first has seen the change and
    // before the second does. The second must find the cache already matching.
    base::Observation between(
        center, center.addObserver(
                    OWQuorvane::kOAuthChangedNotification, [this](const base::Notification&) {
                        cache.addCacheObject("projects", "between", base::Value("kept"));
                    }));
    auto delegateB = std::make_shared<RecordingDelegate>();
    auto b = makeClient(delegateB);
    EXPECT_EQ(statusChanges(*delegateA), 1u);  // once, while being made
    EXPECT_EQ(statusChanges(*delegateB), 1u);
    EXPECT_EQ(cache.username(), "alice");
    cache.addCacheObject("projects", "before", base::Value("alice's"));

    service.configure(R"({"user_name": "bob"})");
    seen.clear();
    authorizeAgain();
    ASSERT_TRUE(controller->isRefreshingToken());
    EXPECT_TRUE(a->isQueueSuspended());
    EXPECT_TRUE(b->isQueueSuspended());
    a->populateProjects();  // waits for the new token
    ASSERT_TRUE(waitForRefreshToEnd());

    // Settings announced while the request was in flight; its end announced after.
    ASSERT_EQ(seenNames(), (std::vector<std::string>{OWQuorvane::kPauseQueueNotification,
                                                     OWQuorvane::kUpdateSettingsNotification,
                                                     OWQuorvane::kOAuthChangedNotification}));
    EXPECT_TRUE(seen[1].refreshing);
    EXPECT_FALSE(seen[2].refreshing);
    EXPECT_FALSE(a->isQueueSuspended());
    EXPECT_FALSE(b->isQueueSuspended());
    EXPECT_EQ(statusChanges(*delegateA), 2u);
    EXPECT_EQ(statusChanges(*delegateB), 2u);
    EXPECT_EQ(cache.username(), "bob");
    EXPECT_FALSE(cache.cachedResult("projects", "before"));
    EXPECT_EQ(cache.cachedResult("projects", "between"), base::Value("kept"));

    ASSERT_TRUE(waitForOutcomes(*delegateA, 1));
    const base::Array log = apiLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(loggedToken(log[size_t{0}]), token());
    EXPECT_EQ(a->username(), "bob");
}

TEST_F(PeerQuorvaneAccount, ACallMadeWhileTheTokenIsRefreshedWaitsAndCarriesTheNewToken) {
    QV_PEER_SETUP();
    link();
    const std::string old = token();
    auto delegateA = std::make_shared<RecordingDelegate>();
    auto a = makeClient(delegateA);

    clock->advance(3601);  // past the expiry; the refresh timer fires on the next pump
    ASSERT_TRUE(pumpUntil([&] { return controller->isRefreshingToken(); }));
    EXPECT_TRUE(a->isLinked());
    EXPECT_FALSE(a->isReady());
    a->populateProjects();
    // A client made during the refresh waits as well, without reloading the account.
    auto delegateB = std::make_shared<RecordingDelegate>();
    auto b = makeClient(delegateB);
    EXPECT_TRUE(b->isQueueSuspended());
    EXPECT_EQ(statusChanges(*delegateB), 0u);
    b->populateDepartmentsForProjectID(1);
    EXPECT_TRUE(rawLog("/api/0/projects").empty());

    ASSERT_TRUE(waitForRefreshToEnd());
    ASSERT_NE(token(), old);
    EXPECT_EQ(statusChanges(*delegateB), 1u);
    ASSERT_TRUE(waitForOutcomes(*delegateA, 1));
    ASSERT_TRUE(waitForOutcomes(*delegateB, 1));
    EXPECT_EQ(delegateA->outcomes()[0].name, "projectsReceived");
    EXPECT_EQ(delegateB->outcomes()[0].name, "departmentsReceived");
    const base::Array log = apiLog();
    ASSERT_EQ(log.size(), 2u);
    for (const base::Value& entry : log) {
        EXPECT_EQ(loggedToken(entry), token());
    }
}

TEST_F(PeerQuorvaneAccount, AnOAuthErrorDuringARefreshIsSentAgainWithTheNewToken) {
    QV_PEER_SETUP();
    link();
    auto delegateA = std::make_shared<RecordingDelegate>();
    auto a = makeClient(delegateA);
    // The refresh is answered slowly with a pair the service knows; meanwhile the call
    // in flight meets the service's "oauth" error.
    QMJSON json;
    const auto issued = json.objectWithString(
        service.request("POST", "/_control/issue", R"({"user_name": "alice"})").body);
    ASSERT_TRUE(issued);
    const std::string fresh = (*issued)["access_token"].stringValue();
    service.script("/token",
                   base::format(R"({"delay": 2.0, "json": {"access_token": "%@", "expires_in": )"
                                R"(3600, "refresh_token": "%@", "user_name": "alice"}})",
                                fresh, (*issued)["refresh_token"].stringValue()));
    service.script("/api/0/projects",
                   R"({"delay": 0.5, "json": {"error": "Token expired", "error_type": "oauth"}})");

    a->populateProjects();
    ASSERT_TRUE(pumpUntil([&] { return rawLog("/api/0/projects").size() == 1; }));
    controller->refreshOAuthToken();
    ASSERT_TRUE(controller->isRefreshingToken());
    ASSERT_TRUE(waitForRefreshToEnd());
    ASSERT_EQ(token(), fresh);

    ASSERT_TRUE(waitForOutcomes(*delegateA, 1));
    ASSERT_EQ(delegateA->outcomes().size(), 1u);
    EXPECT_EQ(delegateA->outcomes()[0].name, "projectsReceived");
    EXPECT_EQ(rawLog("/api/0/projects").size(), 2u);
    const base::Array log = apiLog();  // the second call reached the API's own handler
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(loggedToken(log[size_t{0}]), fresh);
}

TEST_F(PeerQuorvaneAccount, AClientThatGoesAwayWithAReplyOnTheWayHearsNothing) {
    QV_PEER_SETUP();
    link();
    auto delegateA = std::make_shared<RecordingDelegate>();
    auto a = makeClient(delegateA);
    service.script("/api/0/projects", R"({"delay": 1.0, "json": [{"id": 1}]})", 2);
    a->populateProjects();
    ASSERT_TRUE(pumpUntil([&] { return rawLog("/api/0/projects").size() == 1; }));
    a.reset();

    // Another client's equally slow reply arrives after the first one would have.
    auto delegateB = std::make_shared<RecordingDelegate>();
    auto b = makeClient(delegateB);
    b->populateProjects();
    ASSERT_TRUE(waitForOutcomes(*delegateB, 1));
    mainLoop().run(base::kDefaultRunLoopMode, 0);
    EXPECT_TRUE(delegateA->outcomes().empty());
    EXPECT_EQ(delegateB->outcomes()[0].name, "projectsReceived");
    EXPECT_EQ(cache.resultCache().size(), 1u);  // only the reply that was read
}

TEST_F(PeerQuorvaneAccount, UnlinkingReloadsTheAccountAndEveryClientStopsSending) {
    QV_PEER_SETUP();
    link();
    auto delegateA = std::make_shared<RecordingDelegate>();
    auto a = makeClient(delegateA);
    ASSERT_TRUE(a->isReady());
    a->revokeAuthorization();
    EXPECT_FALSE(a->isLinked());
    EXPECT_FALSE(controller->oauthToken());
    // The reload on "OWQuorvaneUpdateSettings", then the change itself.
    EXPECT_EQ(statusChanges(*delegateA), 3u);
    EXPECT_FALSE(a->isQueueSuspended());
    a->populateProjects();
    EXPECT_EQ(a->queuedOperationCount(), 0u);
    EXPECT_FALSE(cache.username());
}

}  // namespace
