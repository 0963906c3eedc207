// What the service answers and what reaches the delegate, over real HTTP: service
// error replies, bare status codes, pages that are no JSON, empty, cut-off and
// non-UTF-8 bodies, a connection closed without an answer.
#include <gtest/gtest.h>

#include "tests/client/PeerQuorvaneSupport.h"

namespace {

using peerquorvane::RecordingDelegate;

constexpr const char* kHosted =
    "Server error. Please try again in a few minutes or report the problem to Oxbury Works if "
    "it persists.";
constexpr const char* kSelfHosted =
    "Server error. Please check your Apache log file to see the cause.";

struct Row {
    const char* name;
    const char* reply;  // the scripted reply for /api/0/projects
    const char* callback;
    const char* message;  // the error's "error" text; null: the reply is the user info
};

class PeerQuorvaneReplies : public peerquorvane::PeerQuorvaneTest {
  protected:
    void SetUp() override {
        PeerQuorvaneTest::SetUp();
        if (service.running()) {
            link();
            client = makeClient(delegate);
        }
    }
    void TearDown() override {
        client.reset();
        PeerQuorvaneTest::TearDown();
    }
    // Asks for the projects once more, the cache emptied, and returns the outcome.
    std::optional<peerquorvane::Callback> projects() {
        cache.clearAll();
        const size_t before = delegate->size();
        client->populateProjects();
        if (!waitForOutcomes(*delegate, before + 1)) {
            return std::nullopt;
        }
        return delegate->outcomes().back();
    }
    void expectRow(const Row& row) {
        SCOPED_TRACE(row.name);
        service.script("/api/0/projects", row.reply);
        const auto outcome = projects();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->name, row.callback);
        EXPECT_TRUE(outcome->onMain);
        if (!outcome->error) {
            return;
        }
        EXPECT_EQ(outcome->error->domain(), "OWQuorvaneErrorDomain");
        EXPECT_EQ(outcome->error->code(), 0);
        if (row.message) {
            EXPECT_EQ(outcome->error->userInfo(), (base::Dictionary{{"error", row.message}}));
        }
    }

    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<OWQuorvane> client;
};

TEST_F(PeerQuorvaneReplies, EachKindOfReplyReachesItsCallbackWithItsMessage) {
    QV_PEER_SETUP();
    const Row rows[] = {
        {"json array", R"({"json": [{"id": 5}]})", "projectsReceived", nullptr},
        {"json with 201", R"({"status": 201, "json": {"ok": 1}})", "projectsReceived", nullptr},
        {"500 without error", R"({"status": 500, "json": {}})", "populateProjectsFailedWithError",
         "Server error. Please check your Quorvane Server Apache log file to see the cause."},
        {"404 without error", R"({"status": 404, "json": {"a": 1}})",
         "populateProjectsFailedWithError",
         "Server not found. This could be a temporary error or you may be using an outdated "
         "version of the Quorvane API."},
        {"403 without error", R"({"status": 403, "json": []})", "populateProjectsFailedWithError",
         "Forbidden. Please check permissions on the API directory in your Quorvane Server "
         "installation directory."},
        {"html page", R"({"status": 502, "text": "<html><body>Bad gateway</body></html>"})",
         "populateProjectsFailedWithError", kHosted},
        {"empty body", R"({"text": ""})", "populateProjectsFailedWithError", kHosted},
        {"cut-off body", R"({"text": "[{\"id\": 1, \"title\": \"Laun"})",
         "populateProjectsFailedWithError", kHosted},
        {"no answer", R"({"drop": true})", "populateProjectsFailedWithError", kHosted},
    };
    for (const Row& row : rows) {
        expectRow(row);
    }
    EXPECT_EQ(delegate->outcomes()[0].result,
              base::Value(base::Array{base::Value(base::Dictionary{{"id", 5}})}));
}

TEST_F(PeerQuorvaneReplies, ServiceErrorsPassTheWholeReplyEvenWithAFailingStatus) {
    QV_PEER_SETUP();
    const char* replies[] = {
        R"({"json": {"error": "No access", "detail": 7}})",
        R"({"status": 500, "json": {"error": "No access", "detail": 7}})",
        R"({"json": {"error": "No access", "detail": 7, "error_type": "oauth"}})",
    };
    for (const char* reply : replies) {
        SCOPED_TRACE(reply);
        service.script("/api/0/projects", reply);
        const auto outcome = projects();
        ASSERT_TRUE(outcome);
        ASSERT_EQ(outcome->name, "populateProjectsFailedWithError");
        const base::Value info(outcome->error->userInfo());
        EXPECT_EQ(info["error"].stringValue(), "No access");
        EXPECT_EQ(info["detail"].integerValue(), 7);
    }
}

TEST_F(PeerQuorvaneReplies, ASelfHostedServerPointsAtItsOwnLog) {
    QV_PEER_SETUP();
    controller->setQuorvServerURLString(service.url() + "/");
    ASSERT_TRUE(client->isQuorvServer());
    expectRow({"html page", R"({"status": 500, "text": "<html>Fatal error</html>"})",
               "populateProjectsFailedWithError", kSelfHosted});
    expectRow({"empty body", R"({"text": ""})", "populateProjectsFailedWithError", kSelfHosted});
    EXPECT_EQ(client->lastURL(), service.url() + "/api/0/projects");
}

TEST_F(PeerQuorvaneReplies, ANonUtf8ReplyFailsAndIsNeverCached) {
    QV_PEER_SETUP();
    service.script("/api/0/projects", R"({"base64": "/1td/g=="})", 2);  // ff 5b 5d fe
    client->populateProjects();
    ASSERT_TRUE(waitForOutcomes(*delegate, 1));
    client->populateProjects();
    ASSERT_TRUE(waitForOutcomes(*delegate, 2));
    for (const auto& outcome : delegate->outcomes()) {
        EXPECT_EQ(outcome.name, "populateProjectsFailedWithError");
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(base::Value(outcome.error->userInfo())["error"].stringValue(), kHosted);
    }
    EXPECT_EQ(rawLog("/api/0/projects").size(), 2u);  // the second asked the service again
}

TEST_F(PeerQuorvaneReplies, AFailureDropsTheCachedReplyOfTheSameRequest) {
    QV_PEER_SETUP();
    client->populateProjects();
    ASSERT_TRUE(waitForOutcomes(*delegate, 1));
    ASSERT_EQ(cache.resultCache().size(), 1u);
    // A failure on the same body (here: a reply that bypassed the cache) leaves no entry.
    service.script("/api/0/projects", R"({"status": 500, "json": {}})");
    const auto outcome = projects();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->name, "populateProjectsFailedWithError");
    EXPECT_TRUE(cache.resultCache().empty());
}

TEST_F(PeerQuorvaneReplies, ContextsBelowAListingReachItsCallbacks) {
    QV_PEER_SETUP();
    client->postURL(client->apiURLString() + "/projects/files", {{"project_id", "1"}},
                    "projects/files/audio");
    ASSERT_TRUE(waitForOutcomes(*delegate, 1));
    EXPECT_EQ(delegate->outcomes()[0].name, "filesReceived");
    service.script("/api/0/projects/files", R"({"status": 404, "text": "{}"})");
    client->postURL(client->apiURLString() + "/projects/files", {{"project_id", "2"}},
                    "projects/files/audio");
    ASSERT_TRUE(waitForOutcomes(*delegate, 2));
    EXPECT_EQ(delegate->outcomes()[1].name, "populateFilesFailedWithError");
}

}  // namespace
