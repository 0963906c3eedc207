// The request operation against apache2's Digest authentication: a challenge
// answered with the request's credentials, a session that answers the next
// request at once, and a stale nonce renewed without asking anyone.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/helpers/MainThread.h"
#include "tests/transfer/EnginePeers.h"
#include "tests/transfer/RecordingDelegate.h"
#include "transfer/TXHTTPRequest.h"

namespace {

using testsupport::Peer;

class EngineDigestTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        QV_REQUIRE_PEER_BINARY(Peer::findBinary("apache2", {"/usr/sbin"}), "apache2");
        std::string error;
        ASSERT_TRUE(apache.start(dir, 1, error)) << error;
        TXHTTPRequest::clearSession();
        delegate = std::make_shared<txtest::RecordingDelegate>();
        delegate->answerAuthentication = true;  // asked only when something is wrong
    }
    void TearDown() override {
        TXHTTPRequest::clearSession();
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }
    std::shared_ptr<TXHTTPRequest> run(const std::string& user, const std::string& password) {
        auto r = TXHTTPRequest::requestWithURL(*base::Url::parse(apache.url("/digest/index.txt")));
        r->setUsername(user);
        r->setPassword(password);
        r->setDelegate(delegate);
        r->startSynchronous();
        return r;
    }

    testsupport::TempDir dir;
    txtest::EngineApacheDigest apache;
    std::shared_ptr<txtest::RecordingDelegate> delegate;
};

TEST_F(EngineDigestTest, ChallengeAnsweredThenStaleNonceRenewedWithoutAsking) {
    auto first = run("alice", "secret");
    ASSERT_FALSE(first->error()) << first->error()->localizedDescription();
    EXPECT_EQ("digest ok\n", first->responseString().value_or(""));
    EXPECT_EQ("Digest", first->authenticationScheme());
    EXPECT_EQ(1, first->authenticationRetryCount());

    // The session's Digest state answers the next request before any challenge.
    auto second = run("", "");
    ASSERT_FALSE(second->error()) << second->error()->localizedDescription();
    EXPECT_EQ(0, second->authenticationRetryCount());

    // The server forgets nonces after a second: this waits for the server's clock,
    // not for a callback. The old nonce is then answered with stale=true, and the
    // request must take the new nonce with the same credentials.
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    auto stale = run("alice", "secret");
    ASSERT_FALSE(stale->error()) << stale->error()->localizedDescription();
    EXPECT_EQ("digest ok\n", stale->responseString().value_or(""));
    EXPECT_EQ(1, stale->authenticationRetryCount()) << "one challenge round: the stale one";
    EXPECT_EQ(0, delegate->authenticationQuestions);
}

TEST_F(EngineDigestTest, WrongPasswordIsRefusedWithCode3) {
    auto r = run("alice", "wrong");
    ASSERT_TRUE(r->error());
    EXPECT_EQ(3, r->error()->code()) << "a synchronous request never waits for its delegate";
    EXPECT_EQ(0, delegate->authenticationQuestions);
}

}  // namespace
