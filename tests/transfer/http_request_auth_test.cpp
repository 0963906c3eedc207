// Authentication: credentials before a challenge, the session store, answering
// challenges, asking receivers, and the limits that keep a request from hanging.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

#include "tests/helpers/MainThread.h"
#include "tests/transfer/HttpTestServer.h"
#include "tests/transfer/RecordingDelegate.h"
#include "transfer/TXBandwidthThrottle.h"
#include "transfer/TXHTTPRequest.h"

namespace {

using txtest::HttpTestServer;
using txtest::ReceivedRequest;
using Reply = HttpTestServer::Reply;

base::Url U(const std::string& text) {
    return *base::Url::parse(text);
}

Reply challenge(const std::string& scheme) {
    return {HttpTestServer::response(401, "WWW-Authenticate: " + scheme + "\r\n", "")};
}

class AuthTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        TXHTTPRequest::clearSession();
        delegate = std::make_shared<txtest::RecordingDelegate>();
    }
    void TearDown() override {
        TXHTTPRequest::clearSession();
        MainThreadTest::TearDown();
    }
    std::shared_ptr<txtest::RecordingDelegate> delegate;
};

const char* kBasicAlice = "Basic YWxpY2U6czNjcmV0";  // alice:s3cret

TEST_F(AuthTest, BasicCredentialsGoFirstAndAreReusedFromTheSession) {
    HttpTestServer server([](const ReceivedRequest& r) {
        if (r.header("Authorization") != kBasicAlice)
            return challenge("Basic realm=\"r\"");
        return Reply{HttpTestServer::response(200, "", "in")};
    });
    auto first = TXHTTPRequest::requestWithURL(U(server.url("/p")));
    first->setUsername("alice");
    first->setPassword("s3cret");
    first->setAuthenticationScheme("Basic");
    first->startSynchronous();
    ASSERT_EQ(1u, server.requests().size());  // no challenge round
    EXPECT_EQ(kBasicAlice, server.requests()[0].header("Authorization"));

    auto second = TXHTTPRequest::requestWithURL(U(server.url("/p")));
    second->startSynchronous();
    EXPECT_EQ(kBasicAlice, server.requests().back().header("Authorization"));
    EXPECT_EQ(200, second->responseStatusCode());
}

TEST_F(AuthTest, ChallengeIsAnsweredWithTheRequestsCredentials) {
    HttpTestServer server([](const ReceivedRequest& r) {
        if (r.header("Authorization") != kBasicAlice)
            return challenge("Basic realm=\"r\"");
        return Reply{HttpTestServer::response(200, "", "in")};
    });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setUsername("alice");
    request->setPassword("s3cret");
    request->setShouldPresentCredentialsBeforeChallenge(false);
    request->setDelegate(delegate);
    request->startSynchronous();
    EXPECT_EQ(200, request->responseStatusCode());
    EXPECT_EQ(2u, server.requests().size());
    EXPECT_EQ(1, delegate->finished);
}

// Nobody can answer, so waiting would hang the caller for ever.
TEST_F(AuthTest, ChallengeWithNobodyToAskFailsWithCode3) {
    HttpTestServer server([](const ReceivedRequest&) { return challenge("Basic realm=\"r\""); });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setDelegate(delegate);
    request->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return delegate->failed == 1 && request->isFinished(); }));
    EXPECT_EQ(3, request->error()->code());
    EXPECT_EQ("Authentication needed", request->error()->localizedDescription());
}

TEST_F(AuthTest, SynchronousRequestNeverAsksItsDelegate) {
    HttpTestServer server([](const ReceivedRequest&) { return challenge("Basic realm=\"r\""); });
    delegate->answerAuthentication = true;
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setDelegate(delegate);
    request->startSynchronous();
    EXPECT_EQ(3, request->error()->code());
    EXPECT_EQ(0, delegate->authenticationQuestions);
}

TEST_F(AuthTest, DelegateSuppliesCredentialsAndTheRequestResumes) {
    HttpTestServer server([](const ReceivedRequest& r) {
        if (r.header("Authorization") != kBasicAlice)
            return challenge("Basic realm=\"r\"");
        return Reply{HttpTestServer::response(200, "", "in")};
    });
    delegate->answerAuthentication = true;
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setDelegate(delegate);
    request->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return delegate->authenticationQuestions == 1; }));
    request->setUsername("alice");
    request->setPassword("s3cret");
    request->retryUsingSuppliedCredentials();
    ASSERT_TRUE(pumpUntil([&] { return delegate->finished == 1 && request->isFinished(); }));
    EXPECT_EQ(200, request->responseStatusCode());
}

TEST_F(AuthTest, RejectedCredentialsAreForgottenBeforeAskingAgain) {
    HttpTestServer server([](const ReceivedRequest&) { return challenge("Basic realm=\"r\""); });
    delegate->answerAuthentication = true;
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setUsername("alice");
    request->setPassword("wrong");
    request->setShouldPresentCredentialsBeforeChallenge(false);
    request->setDelegate(delegate);
    request->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return delegate->authenticationQuestions == 1; }));
    request->cancelAuthentication();
    ASSERT_TRUE(pumpUntil([&] { return delegate->failed == 1 && request->isFinished(); }));
    EXPECT_EQ(3, request->error()->code());
    // The refused password is not offered to the next request.
    auto next = TXHTTPRequest::requestWithURL(U(server.url()));
    next->startSynchronous();
    EXPECT_FALSE(server.requests().back().hasHeader("Authorization"));
}

// The password changed on the server while the session still holds the old one: the
// requests that meet the refusal together put one question to the delegate, and its
// answer, kept in the session, serves all of them. When the delegate declines instead,
// the request that waited is asked in its turn rather than left hanging.
TEST_F(AuthTest, OneAnswerServesEveryRequestRefusedTogether) {
    std::atomic<bool> rotated{false};
    std::mutex gate;
    std::condition_variable arrived;
    int refusedAtOnce = 0;
    const char* kBasicOld = "Basic YWxpY2U6b2xk";  // alice:old
    HttpTestServer server([&](const ReceivedRequest& r) {
        std::string sent = r.header("Authorization");
        if (sent == (rotated ? kBasicAlice : kBasicOld))
            return Reply{HttpTestServer::response(200, "", "in")};
        if (sent == kBasicOld) {
            // Hold each refusal of the old password until both requests have sent it,
            // so both learn of it before anybody answers.
            std::unique_lock lock(gate);
            ++refusedAtOnce;
            arrived.notify_all();
            arrived.wait_for(lock, std::chrono::seconds(5), [&] { return refusedAtOnce >= 2; });
        }
        return challenge("Basic realm=\"r\"");
    });
    struct Asker : txtest::RecordingDelegate {
        std::vector<TXHTTPRequest*> asked;
        void authenticationNeededForRequest(TXHTTPRequest& r) override {
            RecordingDelegate::authenticationNeededForRequest(r);
            asked.push_back(&r);
        }
    };
    for (bool answer : {true, false}) {
        SCOPED_TRACE(answer ? "answered" : "declined");
        TXHTTPRequest::clearSession();
        rotated = false;
        refusedAtOnce = 0;
        auto seed = TXHTTPRequest::requestWithURL(U(server.url("/p")));
        seed->setUsername("alice");
        seed->setPassword("old");
        seed->setAuthenticationScheme("Basic");
        seed->startSynchronous();
        ASSERT_EQ(200, seed->responseStatusCode());
        rotated = true;

        auto asker = std::make_shared<Asker>();
        asker->answerAuthentication = true;
        std::vector<std::shared_ptr<TXHTTPRequest>> both;
        for (int i = 0; i < 2; ++i) {
            both.push_back(TXHTTPRequest::requestWithURL(U(server.url("/p"))));
            both.back()->setDelegate(asker);
            both.back()->startAsynchronous();
        }
        auto ended = [&] { return both[0]->isFinished() && both[1]->isFinished(); };
        ASSERT_TRUE(pumpUntil([&] { return asker->authenticationQuestions >= 1; }));
        // Give the second refusal every chance to reach a second question.
        pumpUntil([&] { return asker->authenticationQuestions >= 2; }, 0.5);
        EXPECT_EQ(1, asker->authenticationQuestions);
        TXHTTPRequest* first = asker->asked.front();
        if (answer) {
            first->setUsername("alice");
            first->setPassword("s3cret");
            first->retryUsingSuppliedCredentials();
            ASSERT_TRUE(pumpUntil(ended));
            EXPECT_EQ(1, asker->authenticationQuestions);
            for (const auto& request : both) {
                EXPECT_EQ(200, request->responseStatusCode());
                EXPECT_FALSE(request->error().has_value());
            }
        } else {
            first->cancelAuthentication();
            ASSERT_TRUE(pumpUntil([&] { return asker->authenticationQuestions == 2; }));
            EXPECT_NE(first, asker->asked.back());
            asker->asked.back()->cancelAuthentication();
            ASSERT_TRUE(pumpUntil(ended));
            for (const auto& request : both) EXPECT_EQ(3, request->error()->code());
        }
    }
}

// What a refusal takes out of the session: only the credentials of the server and realm
// that refused them. Credentials kept for one realm meet another realm's challenge when
// a request presents them before it knows its realm; they stay for their own realm.
// And two servers that share a user and password keep separate entries: one of them
// changing the password leaves the other's alone.
TEST_F(AuthTest, RefusalRemovesOnlyTheRefusingServersAndRealmsCredentials) {
    struct Answerer : txtest::RecordingDelegate {
        std::map<std::string, std::pair<std::string, std::string>> byRealm;
        void authenticationNeededForRequest(TXHTTPRequest& r) override {
            RecordingDelegate::authenticationNeededForRequest(r);
            auto it = byRealm.find(r.authenticationRealm());
            if (it == byRealm.end()) {
                r.cancelAuthentication();
                return;
            }
            r.setUsername(it->second.first);
            r.setPassword(it->second.second);
            r.retryUsingSuppliedCredentials();
        }
    };
    auto answerer = std::make_shared<Answerer>();
    answerer->answerAuthentication = true;
    auto run = [&](const std::string& url, bool withDelegate) {
        auto request = TXHTTPRequest::requestWithURL(U(url));
        if (withDelegate)
            request->setDelegate(answerer);
        request->startAsynchronous();
        EXPECT_TRUE(pumpUntil([&] { return request->isFinished(); })) << url;
        return request;
    };
    const char* kBasicBob = "Basic Ym9iOnR3bw==";  // bob:two
    {
        SCOPED_TRACE("two realms on one server");
        HttpTestServer server([&](const ReceivedRequest& r) {
            bool first = r.target.rfind("/a", 0) == 0;
            if (r.header("Authorization") != (first ? kBasicAlice : kBasicBob))
                return challenge(first ? "Basic realm=\"r1\"" : "Basic realm=\"r2\"");
            return Reply{HttpTestServer::response(200, "", "in")};
        });
        answerer->byRealm = {{"r1", {"alice", "s3cret"}}, {"r2", {"bob", "two"}}};
        for (const char* path : {"/a", "/b"})
            EXPECT_EQ(200, run(server.url(path), true)->responseStatusCode());
        EXPECT_EQ(2, answerer->authenticationQuestions);
        // In turn, at the answered addresses and at others of each realm, whose lookup
        // before the challenge may pick the other realm's entry.
        for (const char* path : {"/a", "/b", "/a", "/b/2", "/a/2", "/a", "/b"}) {
            auto request = run(server.url(path), true);
            EXPECT_EQ(200, request->responseStatusCode()) << path;
            EXPECT_FALSE(request->error().has_value()) << path;
        }
        EXPECT_EQ(2, answerer->authenticationQuestions);
        for (const char* path : {"/b", "/a", "/b/3"}) {
            auto alone = run(server.url(path), false);
            EXPECT_EQ(200, alone->responseStatusCode()) << path;
            EXPECT_FALSE(alone->error().has_value()) << path;
        }
    }
    {
        SCOPED_TRACE("two servers, one user");
        TXHTTPRequest::clearSession();
        std::atomic<bool> changed{false};
        auto accepting = [&](bool changes) {
            return [&changed, changes](const ReceivedRequest& r) {
                const char* wanted = changes && changed ? "Basic YWxpY2U6bmV3" : kBasicAlice;
                if (r.header("Authorization") != wanted)
                    return challenge("Basic realm=\"r\"");
                return Reply{HttpTestServer::response(200, "", "in")};
            };
        };
        HttpTestServer changing(accepting(true));
        HttpTestServer other(accepting(false));
        answerer->byRealm = {{"r", {"alice", "s3cret"}}};
        // The other server's entry first, where a removal by user and password alone
        // finds it before the changing server's.
        EXPECT_EQ(200, run(other.url("/o"), true)->responseStatusCode());
        EXPECT_EQ(200, run(changing.url("/c"), true)->responseStatusCode());
        changed = true;
        auto refused = run(changing.url("/c"), false);
        ASSERT_TRUE(refused->error().has_value());
        EXPECT_EQ(3, refused->error()->code());
        auto kept = run(other.url("/o"), false);
        EXPECT_EQ(200, kept->responseStatusCode());
        EXPECT_FALSE(kept->error().has_value());
        EXPECT_EQ(kBasicAlice, other.requests().back().header("Authorization"));
    }
}

// A Digest server that calls every nonce stale would keep us answering for ever.
TEST_F(AuthTest, EndlessStaleDigestChallengesEndWithCode3) {
    HttpTestServer server([](const ReceivedRequest&) {
        return challenge("Digest realm=\"r\", nonce=\"n\", qop=\"auth\", stale=true");
    });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setUsername("alice");
    request->setPassword("s3cret");
    request->setDelegate(delegate);
    request->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return delegate->failed == 1 && request->isFinished(); }));
    EXPECT_EQ(3, request->error()->code());
    EXPECT_LE(server.requests().size(), 8u);
    EXPECT_TRUE(server.requests().back().header("Authorization").rfind("Digest ", 0) == 0);
}

// ---- throttle arithmetic ----------------------------------------------------------

TEST(BandwidthThrottle, OverBudgetWindowHoldsStreamsUntilPaidFor) {
    TXBandwidthThrottle& t = TXBandwidthThrottle::shared();
    t.reset();
    t.setMaxBandwidthPerSecond(1000);
    t.measure(100.0);  // window ends at 101
    t.incrementBandwidthUsedInLastSecond(3000);
    t.measure(100.5);
    EXPECT_TRUE(t.shouldHoldStreams(102.9));
    EXPECT_FALSE(t.shouldHoldStreams(103.0));
    EXPECT_EQ(1u, t.maxDownloadReadLength(100.5, 16384));
    t.reset();
}

TEST(BandwidthThrottle, BodyReadsShrinkToOneByteWithoutBudget) {
    TXBandwidthThrottle& t = TXBandwidthThrottle::shared();
    t.reset();
    t.setMaxBandwidthPerSecond(4000);
    t.measure(10.0);
    EXPECT_EQ(1000u, t.maxUploadReadLength(10.1));
    t.incrementBandwidthUsedInLastSecond(4000);
    EXPECT_EQ(0u, t.maxUploadReadLength(10.2));
    EXPECT_TRUE(t.shouldHoldStreams(10.5));  // until the window ends
    t.reset();
}

}  // namespace
