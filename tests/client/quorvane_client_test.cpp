// The client object: its queue following the token controller, the reply cache,
// deliveries on the main thread, and a client going away with a call in flight.
#include <gtest/gtest.h>

#include "client/OWQuorvane.h"
#include "tests/client/QuorvaneFakes.h"
#include "tests/helpers/MainThread.h"

namespace {

using quorvanetest::FakeAccount;
using quorvanetest::RecordingDelegate;
using quorvanetest::ScriptedLoader;

class QuorvaneClient : public testsupport::MainThreadTest,
                       protected quorvanetest::SharedClientState {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        account->link("tok-1");
    }
    std::shared_ptr<OWQuorvane> make(const std::shared_ptr<OWQuorvaneDelegate>& d) {
        return OWQuorvane::create(d, {account, loader, sharedCache, sharedCenter, nullptr});
    }
    std::shared_ptr<OWQuorvane> make() { return make(delegate); }
    // Pumps until the queue has nothing left and every delivery has run.
    bool settle(const std::shared_ptr<OWQuorvane>& client) {
        return pumpUntil([&] { return client->queuedOperationCount() == 0; }) &&
               pumpUntil([] { return false; }, 0.05) == false;
    }

    std::shared_ptr<FakeAccount> account = std::make_shared<FakeAccount>();
    std::shared_ptr<ScriptedLoader> loader = std::make_shared<ScriptedLoader>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

TEST_F(QuorvaneClient, SetUpReloadsTheAccountAndTellsTheDelegateOnce) {
    auto client = make();
    EXPECT_EQ(delegate->count("oauthStatus"), 1u);
    EXPECT_EQ(account->loads, 1);
    EXPECT_FALSE(client->isQueueSuspended());
    EXPECT_TRUE(client->isLinked());
    EXPECT_TRUE(client->isReady());
    EXPECT_EQ(client->apiURLString(), "https://site.invalid/api/0");
    account->setSite("https://own.invalid/");
    EXPECT_EQ(client->apiURLString(), "https://own.invalid/api/0");
}

TEST_F(QuorvaneClient, LinkedMeansAValidTokenOrOneBeingRefreshed) {
    auto client = make();
    account->link("old", -10);
    EXPECT_FALSE(client->isLinked());
    EXPECT_FALSE(client->isReady());
    account->setRefreshing(true);
    EXPECT_TRUE(client->isLinked());
    EXPECT_FALSE(client->isReady());
    account->unlink();
    EXPECT_FALSE(client->isLinked());
}

TEST_F(QuorvaneClient, ACallGoesToTheMainThreadWithItsResult) {
    loader->reply(200, "[{\"id\":1,\"title\":\"One\"}]");
    auto client = make();
    client->populateProjects();
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("projects") == 1; }));
    const auto event = delegate->last("projects");
    EXPECT_TRUE(event->onMain);
    EXPECT_EQ(event->result[0]["title"].stringValue(), "One");
    const auto calls = loader->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].url, "https://site.invalid/api/0/projects");
    EXPECT_EQ(calls[0].body, "&privateStorage=0&access_token=tok-1");
    EXPECT_FALSE(calls[0].contentType);
    EXPECT_EQ(client->lastURL(), "https://site.invalid/api/0/projects");
}

TEST_F(QuorvaneClient, NotLinkedSendsNothingAndCallsNobody) {
    account->unlink();
    auto client = make();
    client->populateProjects();
    client->metadataForFile(3);
    EXPECT_FALSE(client->createProject("T", std::nullopt, std::nullopt, 1));
    settle(client);
    EXPECT_EQ(loader->callCount(), 0u);
    EXPECT_EQ(delegate->events().size(), 1u);  // the set-up's status change only
}

TEST_F(QuorvaneClient, ACachedReplyAnswersTheSameCallWithoutTheNetwork) {
    loader->reply(200, "[{\"id\":5}]");
    auto client = make();
    client->populateProjects();
    client->populateProjects();
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("projects") == 2; }));
    EXPECT_EQ(loader->callCount(), 1u);
    std::vector<quorvanetest::Event> replies;
    for (const auto& event : delegate->events()) {
        if (event.name == "projects") {
            replies.push_back(event);
        }
    }
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].result, replies[1].result);
    EXPECT_EQ(replies[1].result[0]["id"].integerValue(), 5);
    EXPECT_TRUE(replies[1].onMain);
    // Another body is another entry.
    client->populateProjects(true);
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("projects") == 3; }));
    EXPECT_EQ(loader->callCount(), 2u);
}

TEST_F(QuorvaneClient, FailuresAndUnreadableRepliesAreNeverCached) {
    loader->reply(200, "{\"error\":\"Nope\"}");
    loader->replyBytes(200, base::Data{0xff, 0xfe});
    auto client = make();
    client->populateProjects();
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("projectsFailed") == 1; }));
    const auto failed = delegate->last("projectsFailed");
    EXPECT_EQ(failed->error->userInfo(), (base::Dictionary{{"error", "Nope"}}));
    client->populateProjects();  // bytes that are no UTF-8 text
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("projectsFailed") == 2; }));
    EXPECT_EQ(delegate->count("projects"), 0u);
    EXPECT_TRUE(cache.resultCache().empty());
    client->populateProjects();
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("projects") == 1; }));
    EXPECT_EQ(loader->callCount(), 3u);
}

TEST_F(QuorvaneClient, ACallQueuedWhileRefreshingWaitsAndCarriesTheNewToken) {
    auto client = make();
    account->link("expired", -5);
    account->setRefreshing(true);
    center.post(OWQuorvane::kPauseQueueNotification);
    EXPECT_TRUE(client->isQueueSuspended());
    client->populateDepartmentsForProjectID(4);
    client->populateFileWorkflowsForProjectID(4);
    EXPECT_FALSE(pumpUntil([&] { return loader->callCount() > 0; }, 0.1));
    account->link("fresh");
    account->setRefreshing(false);
    center.post(OWQuorvane::kOAuthChangedNotification);
    ASSERT_TRUE(loader->waitForCalls(2));
    const auto calls = loader->calls();
    EXPECT_EQ(calls[0].body, "&project_id=4&access_token=fresh");
    EXPECT_EQ(calls[1].url, "https://site.invalid/api/0/projects/workflows");
}

TEST_F(QuorvaneClient, AClientMadeDuringARefreshWaitsForItsEnd) {
    account->setRefreshing(true);
    auto client = make();
    EXPECT_TRUE(client->isQueueSuspended());
    EXPECT_EQ(delegate->count("oauthStatus"), 0u);
    EXPECT_EQ(account->loads, 0);
    client->populateProjects();
    EXPECT_FALSE(pumpUntil([&] { return loader->callCount() > 0; }, 0.1));
    // A settings reload during the refresh changes nothing.
    center.post(OWQuorvane::kUpdateSettingsNotification);
    EXPECT_TRUE(client->isQueueSuspended());
    account->setRefreshing(false);
    center.post(OWQuorvane::kOAuthChangedNotification);
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("projects") == 1; }));
    EXPECT_EQ(delegate->count("oauthStatus"), 1u);
}

TEST_F(QuorvaneClient, AnOAuthErrorDuringARefreshIsSentAgainAfterIt) {
    loader->reply(200, "{\"error\":\"Token expired\",\"error_type\":\"oauth\"}");
    loader->reply(200, "[{\"id\":9}]");
    auto client = make();
    loader->holdNext();
    client->populateProjects();
    ASSERT_TRUE(loader->waitForCalls(1));
    // The token controller starts a refresh while the call is out.
    account->setRefreshing(true);
    center.post(OWQuorvane::kPauseQueueNotification);
    loader->release();
    EXPECT_FALSE(pumpUntil([&] { return loader->callCount() > 1; }, 0.1));
    EXPECT_EQ(delegate->events().size(), 1u);
    account->link("tok-2");
    account->setRefreshing(false);
    center.post(OWQuorvane::kOAuthChangedNotification);
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("projects") == 1; }));
    EXPECT_EQ(loader->calls()[1].body, "&privateStorage=0&access_token=tok-2");
    EXPECT_EQ(delegate->count("projectsFailed"), 0u);
}

TEST_F(QuorvaneClient, AnOAuthErrorOutsideARefreshIsAFailure) {
    loader->reply(200, "{\"error\":\"Token expired\",\"error_type\":\"oauth\"}");
    auto client = make();
    client->populateProjects();
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("projectsFailed") == 1; }));
    EXPECT_EQ(loader->callCount(), 1u);
}

TEST_F(QuorvaneClient, ProcessingFinishedComesOnceFromTheWorker) {
    auto client = make();
    client->populateProjects();
    client->populateProjects(true);
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("finished") == 1; }));
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("projects") == 2; }));
    EXPECT_EQ(delegate->count("finished"), 1u);
    EXPECT_FALSE(delegate->last("finished")->onMain);

    client->setShouldExpectAdditionalTasks(true);
    client->usersForProject(1);
    ASSERT_TRUE(settle(client));
    EXPECT_EQ(delegate->count("finished"), 1u);
}

TEST_F(QuorvaneClient, TwoClientsPauseAndResumeTogetherAndClearTheCacheOnce) {
    auto other = std::make_shared<RecordingDelegate>();
    auto first = make();
    auto second = make(other);
    center.post(OWQuorvane::kPauseQueueNotification);
    EXPECT_TRUE(first->isQueueSuspended());
    EXPECT_TRUE(second->isQueueSuspended());

    cache.addCacheObject("projects", "&x", base::Value(1));
    account->setUsername("bob");
    center.post(OWQuorvane::kOAuthChangedNotification);
    EXPECT_FALSE(first->isQueueSuspended());
    EXPECT_FALSE(second->isQueueSuspended());
    EXPECT_TRUE(cache.resultCache().empty());
    EXPECT_EQ(cache.username(), "bob");
    EXPECT_EQ(cache.serverURL(), "https://site.invalid");
    EXPECT_EQ(other->count("oauthStatus"), 2u);

    // Same user and server: the cache stays.
    cache.addCacheObject("projects", "&x", base::Value(1));
    center.post(OWQuorvane::kOAuthChangedNotification);
    EXPECT_EQ(cache.resultCache().size(), 1u);
    account->setSite("https://other.invalid");
    center.post(OWQuorvane::kOAuthChangedNotification);
    EXPECT_TRUE(cache.resultCache().empty());
}

TEST_F(QuorvaneClient, AClientGoingAwayWithACallOutDeliversNothing) {
    auto client = make();
    loader->holdNext();
    client->populateProjects();
    ASSERT_TRUE(loader->waitForCalls(1));
    client.reset();  // cancels the held load and waits for the worker
    pumpUntil([] { return false; }, 0.1);
    EXPECT_EQ(delegate->count("projects"), 0u);
    EXPECT_EQ(delegate->count("projectsFailed"), 0u);
}

TEST_F(QuorvaneClient, AReplyAlreadyHandedToTheMainThreadIsDroppedWhenTheClientGoes) {
    auto client = make();
    client->populateProjects();
    // The queue ran empty on the worker, so the delivery waits in the main queue.
    ASSERT_TRUE(delegate->waitFor("finished", 1));
    client.reset();
    pumpUntil([] { return false; }, 0.1);
    EXPECT_EQ(delegate->count("projects"), 0u);
}

TEST_F(QuorvaneClient, AGoneDelegateOrNoDelegateReceivesNothing) {
    auto client = make(nullptr);
    client->populateProjects();
    ASSERT_TRUE(settle(client));
    auto shortLived = std::make_shared<RecordingDelegate>();
    client->assignDelegate(shortLived);
    shortLived.reset();
    client->populateProjects(true);
    ASSERT_TRUE(settle(client));
    EXPECT_FALSE(client->delegate());
}

TEST_F(QuorvaneClient, AWriteDropsTheCachedRepliesItChanges) {
    auto client = make();
    client->populateFoldersForProjectID(1, "/", -1, false);
    client->metadataForFile(7);
    client->metadataForFile(8);
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("metadata") == 2; }));
    ASSERT_EQ(cache.resultCache().size(), 3u);

    client->createFolder("New", 1, -1);
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("foldersCreated") == 1; }));
    client->populateFoldersForProjectID(1, "/", -1, false);
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("folders") == 2; }));
    EXPECT_EQ(loader->callCount(), 5u);  // the listing was asked for again

    client->setMetadata({{"k", "v"}}, 7);
    client->metadataForFile(7);
    client->metadataForFile(8);
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("metadata") == 5; }));
    // File 7's metadata was asked for again; file 8's came from the cache.
    const auto calls = loader->calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[6].body, "&file_id=7&access_token=tok-1");
}

TEST_F(QuorvaneClient, TemporaryCodeCallsNeedNoAccountAndResumeTheQueue) {
    account->unlink();
    account->setClientID("cid");
    auto client = make();
    client->pauseQueue();
    client->generateTempActivationCode();
    ASSERT_TRUE(pumpUntil([&] { return delegate->count("tempCode") == 1; }));
    EXPECT_EQ(loader->calls()[0].url, "https://site.invalid/api/0/tempactivationcode");
    EXPECT_EQ(loader->calls()[0].body, "&client_id=cid");
}

TEST_F(QuorvaneClient, AnAuthenticateSuccessStoresTheUserNameBeforeTheCallback) {
    auto client = make();
    int reloads = 0;
    auto id = center.addObserver(OWQuorvane::kUpdateSettingsNotification,
                                 [&](const base::Notification&) { ++reloads; });
    base::Observation observation(center, id);
    client->postSuccessOnMainThread(base::Dictionary{{"name", "carol"}}, "authenticate");
    EXPECT_EQ(account->username(), "carol");
    EXPECT_EQ(account->saves, 1);
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(delegate->count("authorized"), 1u);
    // A reply of another shape changes nothing.
    client->postSuccessOnMainThread(base::Array{"carol"}, "authenticate");
    EXPECT_EQ(account->saves, 1);
}

TEST_F(QuorvaneClient, UploadListAndProgressReports) {
    auto client = make();
    client->reportUploadedBytes(10);  // no upload: logged only
    EXPECT_EQ(delegate->count("uploaded"), 0u);
    client->appendUploadSettings({{"title", "A"}});
    client->appendUploadSettings({{"title", "B"}});
    client->reportUploadedBytes(-4);
    client->reportUploadedBytes(100);
    ASSERT_EQ(delegate->count("uploaded"), 1u);
    EXPECT_EQ(delegate->lastFile.find("title")->stringValue(), "A");
    EXPECT_EQ(client->takeUploadSettingsHead()->find("title")->stringValue(), "A");
    client->cancelAllOperations();
    EXPECT_TRUE(client->uploadQueueSettings().empty());
    client->reportUploadedBytes(5);
    EXPECT_EQ(delegate->count("uploaded"), 1u);
}

TEST_F(QuorvaneClient, AuthenticationErrorAndDigests) {
    auto client = make();
    client->postAuthenticationError();
    const auto failed = delegate->last("authFailed");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->error->code(), 403);
    EXPECT_EQ(failed->error->userInfo().find("error")->stringValue(),
              "Invalid username or password");
    // Digests of every UTF-8 byte, as Python's hashlib gives them.
    EXPECT_EQ(OWQuorvane::sha1("caf\xc3\xa9"), "f424452a9673918c6f09b0cdd35b20be8e6ae7d7");
    EXPECT_EQ(OWQuorvane::sha512("abc").substr(0, 32), "ddaf35a193617abacc417349ae204131");
    EXPECT_EQ(OWQuorvane::sha512("").size(), 128u);
}

}  // namespace
