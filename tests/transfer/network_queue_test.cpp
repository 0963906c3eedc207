// The request batch against a scripted loopback server: suspension until go(),
// counting, failure handling, progress of the whole batch, HEAD companions, the
// selectors and what happens when the queue or its delegate goes away.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/OWException.h"
#include "tests/helpers/MainThread.h"
#include "tests/transfer/HttpTestServer.h"
#include "tests/transfer/RecordingDelegate.h"
#include "transfer/TXNetworkQueue.h"

namespace {

using txtest::HttpTestServer;
using txtest::ReceivedRequest;
using Reply = HttpTestServer::Reply;

base::Url U(const std::string& text) {
    return *base::Url::parse(text);
}

// A progress bar: remembers every value it was set to.
struct Bar : TXProgressDelegate {
    std::vector<double> values;
    double max = 0;
    void setDoubleValue(double v) override { values.push_back(v); }
    void setMaxValue(double v) override { max = v; }
};

// The queue's delegate: notes what its selectors told it.
struct QueueDelegate : txtest::RecordingDelegate {
    int queueFinished = 0;
    std::vector<int> statuses;
    void onStart(TXHTTPRequest&) { note("q-started"); }
    void onFinish(TXHTTPRequest& r) {
        statuses.push_back(r.responseStatusCode());
        note("q-finished");
    }
    void onFail(TXHTTPRequest&) { note("q-failed"); }
    void onQueueFinished(TXNetworkQueue&) { ++queueFinished; }
};

// A server that answers GET with the path's body and HEAD with its length only.
// "/fail" hangs up; "/hold" never answers.
Reply answer(const ReceivedRequest& r) {
    if (r.target == "/fail")
        return {"", true};
    if (r.target == "/hold")
        return {"", false, true};
    std::string body = "body of " + r.target;
    if (r.method == "HEAD")
        return {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n"};
    return {HttpTestServer::response(200, "", body)};
}

class NetworkQueueTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        q = TXNetworkQueue::queue();
        d = std::make_shared<QueueDelegate>();
        q->setDelegate(d);
        q->setRequestDidStartSelector(TXSelector(&QueueDelegate::onStart));
        q->setRequestDidFinishSelector(TXSelector(&QueueDelegate::onFinish));
        q->setRequestDidFailSelector(TXSelector(&QueueDelegate::onFail));
        q->setQueueDidFinishSelector(TXQueueFinishedSelector(&QueueDelegate::onQueueFinished));
    }
    void TearDown() override {
        q.reset();
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }
    std::shared_ptr<TXHTTPRequest> add(const HttpTestServer& server, const std::string& path) {
        auto r = TXHTTPRequest::requestWithURL(U(server.url(path)));
        r->setTimeOutSeconds(30);
        q->addOperation(r);
        return r;
    }
    bool allEnded(const std::vector<std::shared_ptr<TXHTTPRequest>>& rs) {
        return pumpUntil([&] {
            for (auto& r : rs) {
                if (!r->isFinished())
                    return false;
            }
            return d->queueFinished > 0;
        });
    }
    std::shared_ptr<TXNetworkQueue> q;
    std::shared_ptr<QueueDelegate> d;
};

// ---- suspension, adding, counting ----------------------------------------------

TEST_F(NetworkQueueTest, NothingRunsBeforeGoAndTheLastEndFiresQueueFinishedOnce) {
    HttpTestServer server(answer);
    auto a = add(server, "/a");
    auto b = add(server, "/b");
    EXPECT_TRUE(q->isSuspended());
    EXPECT_EQ(4, q->maxConcurrentOperationCount());
    EXPECT_EQ(2, q->requestsCount());
    EXPECT_FALSE(pumpUntil([&] { return !server.requests().empty(); }, 0.3));

    q->go();
    ASSERT_TRUE(allEnded({a, b}));
    EXPECT_EQ(0, q->requestsCount());
    EXPECT_EQ(1, d->queueFinished);
    EXPECT_EQ((std::vector<int>{200, 200}), d->statuses);
    EXPECT_EQ("body of /a", a->responseString().value_or(""));
    // The requests' own delegate is not the queue's.
    EXPECT_EQ(0, d->finished);
}

TEST_F(NetworkQueueTest, AddingSomethingElseRaisesAndCountsNothing) {
    auto op = std::make_shared<base::BlockOperation>([] {});
    try {
        q->addOperation(op);
        FAIL() << "no exception";
    } catch (const OWException& e) {
        EXPECT_EQ("AttemptToAddInvalidRequest", e.name());
        EXPECT_EQ("Attempted to add an object that was not an TXHTTPRequest to an TXNetworkQueue",
                  e.reason());
    }
    EXPECT_EQ(0, q->requestsCount());
    q->addHEADOperation(op);  // ignored
    EXPECT_EQ(0u, q->operationCount());
}

// ---- failure ----------------------------------------------------------------

TEST_F(NetworkQueueTest, FirstFailureCancelsTheRestByDefault) {
    HttpTestServer server(answer);
    q->setMaxConcurrentOperationCount(1);  // the failure comes first
    auto bad = add(server, "/fail");
    auto held = add(server, "/hold");
    auto waiting = add(server, "/c");
    q->go();
    ASSERT_TRUE(allEnded({bad, held, waiting}));
    EXPECT_EQ(1, d->queueFinished);
    EXPECT_EQ(0, q->requestsCount());
    for (auto& r : {held, waiting}) {
        ASSERT_TRUE(r->error());
        EXPECT_EQ(4, r->error()->code());
    }
    EXPECT_EQ(1, bad->error()->code());
    EXPECT_EQ(3, std::count(d->events.begin(), d->events.end(), "q-failed"));
    EXPECT_EQ(0u, q->totalBytesToDownload());  // cancelling zeroes the counters
}

TEST_F(NetworkQueueTest, WithoutCancellingOnFailureTheOthersGoOn) {
    HttpTestServer server(answer);
    q->setShouldCancelAllRequestsOnFailure(false);
    q->setMaxConcurrentOperationCount(1);
    auto bad = add(server, "/fail");
    auto b = add(server, "/b");
    auto c = add(server, "/c");
    q->go();
    ASSERT_TRUE(allEnded({bad, b, c}));
    EXPECT_EQ(1, d->queueFinished);
    EXPECT_FALSE(b->error());
    EXPECT_EQ("body of /c", c->responseString().value_or(""));
    EXPECT_EQ((std::vector<int>{200, 200}), d->statuses);
}

// ---- progress ---------------------------------------------------------------

TEST_F(NetworkQueueTest, WithoutAccurateProgressEachRequestIsOneUnit) {
    HttpTestServer server(answer);
    auto down = std::make_shared<Bar>();
    auto up = std::make_shared<Bar>();
    q->setDownloadProgressDelegate(down);
    q->setUploadProgressDelegate(up);
    q->setMaxConcurrentOperationCount(1);
    std::vector<std::shared_ptr<TXHTTPRequest>> rs{add(server, "/1"), add(server, "/2"),
                                                   add(server, "/3")};
    EXPECT_EQ(3u, q->totalBytesToDownload());
    EXPECT_EQ(3u, q->totalBytesToUpload());
    for (auto& r : rs) {
        EXPECT_FALSE(r->showAccurateProgress());
        EXPECT_FALSE(r->shouldResetUploadProgress());
    }
    q->go();
    ASSERT_TRUE(allEnded(rs));
    EXPECT_EQ(3u, q->bytesDownloadedSoFar());
    EXPECT_EQ(1.0, down->max);
    std::vector<double> steps;
    for (double v : down->values) {
        if (v > 0)
            steps.push_back(v);
    }
    ASSERT_EQ(3u, steps.size());
    EXPECT_DOUBLE_EQ(1.0 / 3, steps[0]);
    EXPECT_DOUBLE_EQ(2.0 / 3, steps[1]);
    EXPECT_DOUBLE_EQ(1.0, steps[2]);
}

TEST_F(NetworkQueueTest, AccurateProgressMeasuresGETsWithHEADCompanionsWhileSuspended) {
    HttpTestServer server(answer);
    q->setShowAccurateProgress(true);
    auto bar = std::make_shared<Bar>();
    q->setDownloadProgressDelegate(bar);
    auto get = add(server, "/long-path-for-get");
    auto post = TXHTTPRequest::requestWithURL(U(server.url("/post")));
    post->appendPostData(std::string_view("twelve bytes"));
    q->addOperation(post);
    EXPECT_EQ(12u, q->totalBytesToUpload());  // the body was built when added
    EXPECT_EQ("POST", post->requestMethod());
    EXPECT_EQ(3u, q->operationCount());  // one HEAD, for the GET only
    EXPECT_EQ(2, q->requestsCount());
    q->go();
    ASSERT_TRUE(allEnded({get, post}));
    std::vector<std::string> seen;
    for (auto& r : server.requests()) seen.push_back(r.method + " " + r.target);
    ASSERT_EQ(3u, seen.size());
    auto at = [&](const std::string& what) {
        return std::find(seen.begin(), seen.end(), what) - seen.begin();
    };
    EXPECT_LT(at("HEAD /long-path-for-get"), at("GET /long-path-for-get"));  // the GET waits
    std::string body = "body of /long-path-for-get";
    EXPECT_EQ(body.size() + std::string("body of /post").size(), q->totalBytesToDownload());
    EXPECT_EQ(q->totalBytesToDownload(), q->bytesDownloadedSoFar());
    ASSERT_FALSE(bar->values.empty());
    EXPECT_DOUBLE_EQ(1.0, bar->values.back());

    // Once running, a new GET gets no companion.
    d->queueFinished = 0;
    auto late = add(server, "/late");
    ASSERT_TRUE(allEnded({late}));
    EXPECT_EQ(4u, server.requests().size());
    EXPECT_EQ("GET", server.requests().back().method);
}

// ---- selectors and receivers ---------------------------------------------------

TEST_F(NetworkQueueTest, UnsetSelectorsAndAGoneDelegateAreNotCalled) {
    HttpTestServer server(answer);
    q->setRequestDidStartSelector(nullptr);
    q->setRequestDidFinishSelector(nullptr);
    auto a = add(server, "/a");
    q->go();
    ASSERT_TRUE(allEnded({a}));
    EXPECT_TRUE(d->events.empty());

    std::weak_ptr<QueueDelegate> weak = d;
    d.reset();
    auto b = add(server, "/b");
    // The report reaches the queue on the main thread after the request finished.
    ASSERT_TRUE(pumpUntil([&] { return b->isFinished() && q->requestsCount() == 0; }));
    EXPECT_TRUE(weak.expired());
}

TEST_F(NetworkQueueTest, AGoneQueueDetachesItsRequestsAndLateCallbacksAreDropped) {
    HttpTestServer server(answer);
    auto a = add(server, "/a");
    EXPECT_EQ(q, std::dynamic_pointer_cast<TXNetworkQueue>(a->queue()));
    std::weak_ptr<TXNetworkQueue> weak = q;
    q.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(nullptr, a->queue());
    // The request still reports to its own delegate when run again elsewhere.
    auto again = a->copy();
    auto own = std::make_shared<txtest::RecordingDelegate>();
    again->setDelegate(own);
    again->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return own->finished == 1; }));
    EXPECT_EQ(0, d->queueFinished);
}

TEST_F(NetworkQueueTest, ResetForgetsReceiversButKeepsTheRedirectSelector) {
    auto bar = std::make_shared<Bar>();
    q->setUploadProgressDelegate(bar);
    q->setRequestWillRedirectSelector(
        [](TXHTTPRequestDelegate&, TXHTTPRequest&, const base::Url&) {});
    EXPECT_TRUE(q->answersWillRedirect());
    q->go();
    q->reset();
    EXPECT_TRUE(q->isSuspended());
    EXPECT_EQ(nullptr, q->delegate());
    EXPECT_EQ(nullptr, q->uploadProgressDelegate());
    // The selector stays, but nobody is left to answer it.
    EXPECT_FALSE(q->answersWillRedirect());
    q->setDelegate(d);
    EXPECT_TRUE(q->answersWillRedirect());
}

TEST_F(NetworkQueueTest, CopyTakesConfigurationNotRequests) {
    HttpTestServer server(answer);
    q->setShowAccurateProgress(true);
    q->setShouldCancelAllRequestsOnFailure(false);
    q->setUserInfo(base::Dictionary{{"k", "v"}});
    add(server, "/a");
    auto other = q->copy();
    EXPECT_TRUE(other->isSuspended());
    EXPECT_EQ(d, other->delegate());
    EXPECT_TRUE(other->showAccurateProgress());
    EXPECT_FALSE(other->shouldCancelAllRequestsOnFailure());
    EXPECT_EQ("v", other->userInfo().find("k")->stringValue());
    EXPECT_EQ(0, other->requestsCount());
    EXPECT_EQ(0u, other->operationCount());
}

TEST_F(NetworkQueueTest, CredentialQuestionsGoOnlyToADelegateThatAnswers) {
    EXPECT_FALSE(q->answersAuthenticationNeeded());
    EXPECT_FALSE(q->answersProxyAuthenticationNeeded());
    d->answerAuthentication = true;
    EXPECT_TRUE(q->answersAuthenticationNeeded());
    auto r = TXHTTPRequest::requestWithURL(U("http://127.0.0.1/"));
    q->authenticationNeededForRequest(*r);
    q->proxyAuthenticationNeededForRequest(*r);  // the delegate does not answer this one
    EXPECT_EQ(1, d->authenticationQuestions);
}

TEST_F(NetworkQueueTest, WithdrawnAmountsNeverTakeCountersBelowZero) {
    auto r = TXHTTPRequest::requestWithURL(U("http://127.0.0.1/"));
    q->incrementUploadSizeBy(*r, 10);
    q->didSendBytes(*r, 4);
    q->didSendBytes(*r, -9);
    EXPECT_EQ(0u, q->bytesUploadedSoFar());
    q->incrementUploadSizeBy(*r, std::numeric_limits<int64_t>::min());
    EXPECT_EQ(0u, q->totalBytesToUpload());
}

}  // namespace
