// The request operation against a scripted loopback server: start paths, callbacks,
// bodies, responses, redirects, time-outs, cancellation and connection reuse.
#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <stdexcept>
#include <thread>

#include "base/PropertyList.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/RunTool.h"
#include "tests/helpers/TempDir.h"
#include "tests/transfer/HttpTestServer.h"
#include "tests/transfer/RecordingDelegate.h"
#include "transfer/TXDataCompressor.h"
#include "transfer/TXDataDecompressor.h"
#include "transfer/TXHTTPRequest.h"
#include "transfer/TXNetworkThread.h"
#include "transfer/TXS3Request.h"

namespace {

using txtest::HttpTestServer;
using txtest::ReceivedRequest;
using Reply = HttpTestServer::Reply;

base::Url U(const std::string& text) {
    return *base::Url::parse(text);
}

std::string text(const base::Data& d) {
    return std::string(d.begin(), d.end());
}

std::string gzip(const std::string& s) {
    std::optional<base::Error> err;
    auto out = TXDataCompressor::compressData(
        std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size()), &err);
    return text(out.value_or(base::Data()));
}

Reply ok(const std::string& body, const std::string& headers = "") {
    return {HttpTestServer::response(200, headers, body)};
}

class RequestTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        TXHTTPRequest::setDefaultUserAgentString(
            std::string("EngineTest 1.0 (X11; Linux 6.1.0; en_US)"));
        delegate = std::make_shared<txtest::RecordingDelegate>();
    }
    void TearDown() override {
        TXHTTPRequest::expirePersistentConnections();
        MainThreadTest::TearDown();
    }
    // Runs the request on the network thread and pumps until it has reported.
    void runAsync(const std::shared_ptr<TXHTTPRequest>& request) {
        request->setDelegate(delegate);
        request->startAsynchronous();
        ASSERT_TRUE(pumpUntil(
            [&] { return request->isFinished() && delegate->finished + delegate->failed > 0; },
            20));
    }
    std::shared_ptr<txtest::RecordingDelegate> delegate;
};

// ---- start paths and callbacks ---------------------------------------------------

TEST_F(RequestTest, AsynchronousRequestReportsOnTheMainThreadInOrder) {
    HttpTestServer server([](const ReceivedRequest&) {
        return ok("héllo", "Content-Type: text/plain; charset=utf-8\r\n");
    });
    auto request = TXHTTPRequest::requestWithURL(U(server.url("/a")));
    runAsync(request);
    EXPECT_FALSE(delegate->offMainThread);
    EXPECT_EQ((std::vector<std::string>{"started", "headers", "finished"}), delegate->events);
    EXPECT_EQ(200, request->responseStatusCode());
    EXPECT_EQ("héllo", request->responseString().value_or(""));
    EXPECT_EQ("EngineTest 1.0 (X11; Linux 6.1.0; en_US)",
              server.requests().at(0).header("User-Agent"));
    EXPECT_EQ("gzip", server.requests().at(0).header("Accept-Encoding"));
}

TEST_F(RequestTest, SynchronousRequestOnTheMainThreadDeliversAtOnce) {
    HttpTestServer server([](const ReceivedRequest&) { return ok("x"); });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setDelegate(delegate);
    request->startSynchronous();
    EXPECT_TRUE(request->complete());
    EXPECT_TRUE(request->isFinished());
    EXPECT_EQ(1, delegate->finished);  // already delivered, no pumping needed
    EXPECT_TRUE(request->isSynchronous());
}

TEST_F(RequestTest, SynchronousRequestsOnWorkerThreadsReportOnMain) {
    HttpTestServer server([](const ReceivedRequest& r) { return ok("body of " + r.target); });
    std::vector<std::shared_ptr<TXHTTPRequest>> requests;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        auto r = TXHTTPRequest::requestWithURL(U(server.url("/" + std::to_string(i))));
        r->setDelegate(delegate);
        requests.push_back(r);
        threads.emplace_back([r] { r->startSynchronous(); });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(pumpUntil([&] { return delegate->finished == 4; }));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ("body of /" + std::to_string(i), requests[i]->responseString().value_or(""));
    }
    EXPECT_FALSE(delegate->offMainThread);
}

TEST_F(RequestTest, MissingOrUnusableAddressFailsWithCode5) {
    for (auto url : {std::optional<base::Url>(), std::optional(U("ftp://127.0.0.1/x"))}) {
        auto d = std::make_shared<txtest::RecordingDelegate>();
        auto request = TXHTTPRequest::requestWithURL(url);
        request->setDelegate(d);
        request->startAsynchronous();
        ASSERT_TRUE(pumpUntil([&] { return d->failed == 1 && request->isFinished(); }));
        EXPECT_EQ(5, request->error()->code());
        EXPECT_EQ("Unable to create request (bad url?)", request->error()->localizedDescription());
        EXPECT_FALSE(d->offMainThread);
    }
}

TEST_F(RequestTest, NotFoundFinishesNormallyWithItsBody) {
    HttpTestServer server(
        [](const ReceivedRequest&) { return Reply{HttpTestServer::response(404, "", "missing")}; });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    runAsync(request);
    EXPECT_EQ(1, delegate->finished);
    EXPECT_EQ(404, request->responseStatusCode());
    EXPECT_EQ("missing", request->responseString().value_or(""));
}

TEST_F(RequestTest, CharsetFallsBackToLatin1) {
    HttpTestServer server([](const ReceivedRequest& r) {
        std::string type = r.target == "/unknown" ? "text/plain; charset=klingon" : "text/plain";
        return ok("caf\xe9", "Content-Type: " + type + "\r\n");
    });
    for (std::string path : {"/unknown", "/none"}) {
        auto request = TXHTTPRequest::requestWithURL(U(server.url(path)));
        request->startSynchronous();
        EXPECT_EQ("ISO-8859-1", request->responseEncoding());
        EXPECT_EQ("café", request->responseString().value_or(""));
    }
}

// A length with a leading zero is decimal: "010" announces ten bytes.
TEST_F(RequestTest, ContentLengthIsDecimal) {
    HttpTestServer server([](const ReceivedRequest&) {
        return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 010\r\n\r\n0123456789"};
    });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->startSynchronous();
    EXPECT_FALSE(request->error());
    EXPECT_EQ(10u, request->contentLength());
}

// ---- bodies ----------------------------------------------------------------------

TEST_F(RequestTest, BodyRulesForMethodAndLength) {
    HttpTestServer server([](const ReceivedRequest&) { return ok(""); });
    auto get = TXHTTPRequest::requestWithURL(U(server.url()));
    get->appendPostData(std::string_view("a=1"));
    get->startSynchronous();
    auto put = TXHTTPRequest::requestWithURL(U(server.url()));
    put->setRequestMethod("PUT");
    put->appendPostData(std::string_view("data"));
    put->startSynchronous();
    auto empty = TXHTTPRequest::requestWithURL(U(server.url()));
    empty->startSynchronous();
    auto seen = server.requests();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ("POST", seen[0].method);
    EXPECT_EQ("3", seen[0].header("Content-Length"));
    EXPECT_EQ("a=1", seen[0].body);
    EXPECT_EQ("PUT", seen[1].method);
    EXPECT_FALSE(put->shouldAttemptPersistentConnection());
    EXPECT_FALSE(seen[2].hasHeader("Content-Length"));
}

TEST_F(RequestTest, CompressedBodiesAreCompleteGzip) {
    HttpTestServer server([](const ReceivedRequest&) { return ok(""); });
    testsupport::TempDir dir;
    for (bool fromDisk : {false, true}) {
        // A single byte is the case that once left no room for the output.
        for (std::string body : {std::string("x"), std::string(300000, 'q')}) {
            auto request = TXHTTPRequest::requestWithURL(U(server.url()));
            request->setShouldCompressRequestBody(true);
            request->setShouldStreamPostDataFromDisk(fromDisk);
            request->appendPostData(std::string_view(body));
            request->startSynchronous();
            ASSERT_FALSE(request->error()) << request->error()->localizedDescription();
            auto got = server.requests().back();
            EXPECT_EQ("gzip", got.header("Content-Encoding"));
            EXPECT_EQ(std::to_string(got.body.size()), got.header("Content-Length"));
            std::optional<base::Error> err;
            auto inflated = TXDataDecompressor::uncompressData(
                std::span(reinterpret_cast<const uint8_t*>(got.body.data()), got.body.size()),
                &err);
            EXPECT_EQ(body, text(inflated.value_or(base::Data())));
        }
    }
}

TEST_F(RequestTest, TemporaryBodyFileHoldsBothPiecesAndIsDeletedAfterwards) {
    HttpTestServer server([](const ReceivedRequest&) { return ok(""); });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setShouldStreamPostDataFromDisk(true);
    request->appendPostData(std::string_view("first,"));
    request->appendPostData(std::string_view("second"));
    std::string path = request->postBodyFilePath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(request->didCreateTemporaryPostDataFile());
    request->startSynchronous();
    EXPECT_EQ("first,second", server.requests().at(0).body);
    EXPECT_NE(0, ::access(path.c_str(), F_OK));
}

TEST_F(RequestTest, UnreadableBodyFileFailsTheRequest) {
    HttpTestServer server([](const ReceivedRequest&) { return ok(""); });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    EXPECT_FALSE(request->appendPostDataFromFile("/nonexistent/file"));
    request->startSynchronous();
    ASSERT_TRUE(request->error());
    EXPECT_EQ(8, request->error()->code());
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(RequestTest, UploadProgressSumsToTheBodyLength) {
    HttpTestServer server([](const ReceivedRequest&) { return ok("done"); });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setUploadProgressDelegate(delegate);
    request->setRequestMethod("PUT");
    request->appendPostData(std::string(2000000, 'u'));
    runAsync(request);
    ASSERT_TRUE(pumpUntil(
        [&] {
            return delegate->sent + delegate->uploadSize >= 0 && delegate->uploadSize > 0 &&
                   delegate->sent == delegate->uploadSize;
        },
        5));
    EXPECT_LE(delegate->uploadSize, 2000000);
}

// Readers at three rates keep the upload going past the first status tick. The
// receivers hear of every byte but what the first write of the body left queued in
// the kernel (that write is 64 KiB at most): never what the kernel's send buffer,
// grown to megabytes on loopback, and the first quarter second took in besides.
// Amounts and the fraction never go back, and the amounts add up to the size the
// receivers were given.
TEST_F(RequestTest, UploadProgressToSlowReadersMissesOnlyTheFirstWrite) {
    constexpr int64_t kFirstWriteAtMost = 256 * 1024;
    HttpTestServer server([](const ReceivedRequest&) { return ok("stored"); });
    struct Case {
        uint64_t rate;
        size_t size;
    };
    // Every body is larger than what loopback's auto-grown socket buffers can hold at
    // once, so the upload outlasts the first status tick at every rate.
    for (Case c :
         {Case{4000000, 16u << 20}, Case{20000000, 24u << 20}, Case{100000000, 40u << 20}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " B/s");
        server.setBodyReadRate(c.rate);
        delegate = std::make_shared<txtest::RecordingDelegate>();
        auto request = TXHTTPRequest::requestWithURL(U(server.url()));
        request->setUploadProgressDelegate(delegate);
        request->setRequestMethod("PUT");
        request->appendPostData(std::string(c.size, 'p'));
        runAsync(request);
        ASSERT_EQ(delegate->failed, 0) << delegate->error->localizedDescription();
        ASSERT_EQ(server.requests().back().body.size(), c.size);
        int64_t unreported = static_cast<int64_t>(c.size) - delegate->sent;
        EXPECT_GE(unreported, 0);
        EXPECT_LE(unreported, kFirstWriteAtMost)
            << unreported << " of " << c.size << " bytes were never reported";
        EXPECT_EQ(delegate->sent, delegate->uploadSize);
        EXPECT_GT(delegate->sentAmounts.size(), 1u) << "the upload outlasted the first tick";
        for (int64_t amount : delegate->sentAmounts) EXPECT_GT(amount, 0);
        ASSERT_FALSE(delegate->fractions.empty());
        EXPECT_TRUE(std::is_sorted(delegate->fractions.begin(), delegate->fractions.end()));
        EXPECT_DOUBLE_EQ(delegate->fractions.back(), 1.0);
    }
}

// ---- gzip responses and files ------------------------------------------------------

TEST_F(RequestTest, GzipResponsesInflateWaitingOrOnTheFly) {
    std::string body(100000, 'z');
    HttpTestServer server(
        [&](const ReceivedRequest&) { return ok(gzip(body), "Content-Encoding: gzip\r\n"); });
    for (bool wait : {true, false}) {
        auto request = TXHTTPRequest::requestWithURL(U(server.url()));
        request->setShouldWaitToInflateCompressedResponses(wait);
        request->startSynchronous();
        EXPECT_TRUE(request->isResponseCompressed());
        EXPECT_EQ(body, text(request->responseData().value_or(base::Data())));
        EXPECT_EQ(wait ? gzip(body).size() : body.size(), request->rawResponseData().size());
    }
}

TEST_F(RequestTest, DownloadsReplaceTheDestinationOnlyWhenComplete) {
    std::string body(70000, 'd');
    HttpTestServer server([&](const ReceivedRequest& r) {
        if (r.target == "/gz")
            return ok(gzip(body), "Content-Encoding: gzip\r\n");
        return ok(body);
    });
    testsupport::TempDir dir;
    for (std::string path : {"/plain", "/gz"}) {
        for (bool wait : {true, false}) {
            std::string dest = dir.write("dest", "old contents");
            auto request = TXHTTPRequest::requestWithURL(U(server.url(path)));
            request->setDownloadDestinationPath(dest);
            request->setShouldWaitToInflateCompressedResponses(wait);
            request->startSynchronous();
            ASSERT_FALSE(request->error());
            EXPECT_EQ(body, testsupport::readFile(dest));
            EXPECT_TRUE(request->rawResponseData().empty());
        }
    }
}

TEST_F(RequestTest, DataReceiverGetsEveryChunkAndNothingIsKept) {
    std::string body(200000, 'c');
    HttpTestServer server([&](const ReceivedRequest&) { return ok(body); });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    std::string got;
    bool offMain = false;
    request->setDataReceivedBlock([&](const base::Data& d) {
        offMain |= !base::MainQueue::isMainThread();
        got += text(d);
    });
    runAsync(request);
    EXPECT_EQ(body, got);
    EXPECT_FALSE(offMain);
    EXPECT_TRUE(request->rawResponseData().empty());
}

// ---- redirects -----------------------------------------------------------------------

TEST_F(RequestTest, RedirectMatrixForPostBodies) {
    HttpTestServer server([](const ReceivedRequest& r) {
        if (r.target.rfind("/from/", 0) == 0) {
            return Reply{
                HttpTestServer::response(std::stoi(r.target.substr(6)), "Location: /to\r\n", "")};
        }
        return ok("arrived");
    });
    for (int status : {301, 302, 303, 307}) {
        auto request =
            TXHTTPRequest::requestWithURL(U(server.url("/from/" + std::to_string(status))));
        request->addRequestHeader("Accept", "text/plain");
        request->addRequestHeader("X-Custom", "kept?");
        request->appendPostData(std::string_view("payload"));
        auto d = std::make_shared<txtest::RecordingDelegate>();
        request->setDelegate(d);
        request->startSynchronous();
        auto to = server.requests().back();
        EXPECT_EQ("/to", to.target);
        EXPECT_EQ(1, request->redirectCount());
        EXPECT_EQ(2, d->started) << status;
        if (status == 307) {
            EXPECT_EQ("POST", to.method);
            EXPECT_EQ("payload", to.body);
            EXPECT_EQ("kept?", to.header("X-Custom"));
        } else {
            EXPECT_EQ("GET", to.method) << status;
            EXPECT_TRUE(to.body.empty());
            EXPECT_FALSE(to.hasHeader("X-Custom"));
            EXPECT_EQ("text/plain", to.header("Accept"));
            EXPECT_FALSE(to.header("User-Agent").empty());
        }
    }
}

TEST_F(RequestTest, SixthRedirectFailsWithCode9) {
    HttpTestServer server([](const ReceivedRequest& r) {
        int n = std::stoi(r.target.substr(1));
        return Reply{
            HttpTestServer::response(302, "Location: /" + std::to_string(n + 1) + "\r\n", "")};
    });
    auto request = TXHTTPRequest::requestWithURL(U(server.url("/0")));
    runAsync(request);
    ASSERT_TRUE(request->error());
    EXPECT_EQ(9, request->error()->code());
    EXPECT_EQ(6u, server.requests().size());
}

TEST_F(RequestTest, RedirectsLeadOnlyToWebAddresses) {
    HttpTestServer server([](const ReceivedRequest&) {
        return Reply{HttpTestServer::response(302, "Location: file:///etc/passwd\r\n", "")};
    });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    runAsync(request);
    ASSERT_TRUE(request->error());
    EXPECT_EQ(5, request->error()->code());
}

// Credentials and signatures travel to the same origin only, whoever wrote them: a
// 307 to another origin carries the method, the body and the other headers on.
TEST_F(RequestTest, RedirectToAnotherOriginDropsCredentialsAndSignatures) {
    HttpTestServer other([](const ReceivedRequest&) { return ok("other"); });
    std::string elsewhere = "http://localhost:" + std::to_string(other.port()) + "/x";
    HttpTestServer first([&](const ReceivedRequest& r) {
        if (r.target == "/same")
            return Reply{HttpTestServer::response(307, "Location: /landed\r\n", "")};
        if (r.target == "/landed")
            return ok("same");
        return Reply{HttpTestServer::response(307, "Location: " + elsewhere + "\r\n", "")};
    });
    const std::vector<std::pair<std::string, std::string>> credentials = {
        {"Authorization", "Bearer abc"},
        {"Cookie", "sid=1"},
        {"X-Amz-Security-Token", "tok"},
        {"X-Request-Signature", "c2lnbmVk"},
    };
    auto withHeaders = [&](const std::string& path) {
        auto request = TXHTTPRequest::requestWithURL(U(first.url(path)));
        for (const auto& [name, value] : credentials) request->addRequestHeader(name, value);
        request->addRequestHeader("X-Custom", "kept");
        request->appendPostData(std::string_view("payload"));
        request->setUseCookiePersistence(false);
        return request;
    };

    withHeaders("/away")->startSynchronous();
    ASSERT_EQ(1u, other.requests().size());
    const ReceivedRequest away = other.requests().at(0);
    EXPECT_EQ("POST", away.method);
    EXPECT_EQ("payload", away.body);
    EXPECT_EQ("kept", away.header("X-Custom"));
    for (const auto& [name, value] : credentials) {
        EXPECT_EQ("", away.header(name)) << name << " went to another origin";
        EXPECT_EQ(value, first.requests().at(0).header(name)) << name;
    }

    withHeaders("/same")->startSynchronous();
    const ReceivedRequest landed = first.requests().back();
    EXPECT_EQ("/landed", landed.target);
    for (const auto& [name, value] : credentials) {
        if (name != "Cookie") {  // built again from the jar for the new address
            EXPECT_EQ(value, landed.header(name)) << name << " left the same origin";
        }
    }

    // Credentials the engine wrote itself follow the same rule.
    auto basic = TXHTTPRequest::requestWithURL(U(first.url("/away")));
    basic->setUsername("client");
    basic->setPassword("secret");
    basic->setAuthenticationScheme("Basic");
    basic->startSynchronous();
    EXPECT_TRUE(first.requests().back().hasHeader("Authorization"));
    ASSERT_EQ(2u, other.requests().size());
    EXPECT_FALSE(other.requests().at(1).hasHeader("Authorization"));

    // A storage request signs itself again after a redirect, but only for its origin.
    for (const char* path : {"/away", "/same"}) {
        auto s3 = TXS3Request::requestWithURL(U(first.url(path)));
        s3->setAccessKey("AKIDEXAMPLE");
        s3->setSecretAccessKey("secret");
        s3->startSynchronous();
        EXPECT_EQ(0u, first.requests().back().header("Authorization").rfind("AWS AKIDEXAMPLE:", 0))
            << path;
    }
    ASSERT_EQ(3u, other.requests().size());
    EXPECT_FALSE(other.requests().at(2).hasHeader("Authorization"));
    EXPECT_EQ("/landed", first.requests().back().target);
}

// ---- time-outs, retries and cancellation -----------------------------------------------

class TimeOutTest : public RequestTest {
  protected:
    void SetUp() override {
        RequestTest::SetUp();
        clock = std::make_shared<base::ManualClock>();
        TXNetworkThread::runLoop().setClock(clock);
    }
    void TearDown() override {
        TXNetworkThread::runLoop().setClock(nullptr);
        RequestTest::TearDown();
    }
    // Advances the network thread's clock a quarter second at a time until `done`.
    bool advanceUntil(const std::function<bool()>& done, double limitSeconds) {
        for (double t = 0; t < limitSeconds; t += 0.25) {
            if (done())
                return true;
            clock->advance(0.25);
            pumpUntil([] { return false; }, 0.01);
        }
        return done();
    }
    std::shared_ptr<base::ManualClock> clock;
};

TEST_F(TimeOutTest, SilentServerTimesOutAfterTenSecondsWithoutBody) {
    HttpTestServer server([](const ReceivedRequest&) { return Reply{"", false, true}; });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setDelegate(delegate);
    request->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return server.requests().size() == 1; }));
    EXPECT_FALSE(advanceUntil([&] { return request->complete(); }, 9.5));
    ASSERT_TRUE(advanceUntil([&] { return request->complete(); }, 2));
    ASSERT_TRUE(pumpUntil([&] { return delegate->failed == 1; }));
    EXPECT_EQ(2, request->error()->code());
    EXPECT_EQ("The request timed out", request->error()->localizedDescription());
}

// A service call whose small form body the server took whole, and which it then never
// answers, gives up after its own time-out: nothing of the body is left on its way.
TEST_F(TimeOutTest, AcknowledgedBodyWaitsOnlyThePlainTimeOut) {
    HttpTestServer server([](const ReceivedRequest&) { return Reply{"", false, true}; });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setRequestMethod("POST");
    request->appendPostData(std::string_view("access_token=t0k3n&project_id=1&title=Cut+One"));
    request->setTimeOutSeconds(4);
    request->setDelegate(delegate);
    request->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return server.requests().size() == 1; }));
    EXPECT_EQ("access_token=t0k3n&project_id=1&title=Cut+One", server.requests()[0].body);
    EXPECT_FALSE(advanceUntil([&] { return request->complete(); }, 3.75));
    // The clock stops at 5.5 s, short of the 6 s that half as long again would give.
    advanceUntil([&] { return request->complete(); }, 1.75);
    ASSERT_TRUE(pumpUntil([&] { return request->complete(); }));
    ASSERT_TRUE(pumpUntil([&] { return delegate->failed == 1; }));
    EXPECT_EQ(2, request->error()->code());
}

TEST_F(TimeOutTest, RetriesStartFourTimesAndCloseEachTimedOutConnection) {
    HttpTestServer server([](const ReceivedRequest&) { return Reply{"", false, true}; });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setNumberOfTimesToRetryOnTimeout(3);
    request->setDelegate(delegate);
    request->startAsynchronous();
    for (size_t n = 1; n <= 4; ++n) {
        ASSERT_TRUE(pumpUntil([&] { return server.requests().size() == n; })) << n;
        if (n < 4) {
            ASSERT_TRUE(advanceUntil([&] { return server.requests().size() > n; }, 12));
        }
    }
    ASSERT_TRUE(advanceUntil([&] { return request->complete(); }, 12));
    ASSERT_TRUE(pumpUntil([&] { return delegate->failed == 1; }));
    EXPECT_EQ(2, request->error()->code());
    EXPECT_EQ(4, delegate->started);
    EXPECT_EQ(4, server.connections());  // every retry on a fresh connection
}

TEST_F(RequestTest, CancelInFlightReportsOnceAndFinishes) {
    HttpTestServer server([](const ReceivedRequest&) { return Reply{"", false, true}; });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->setDelegate(delegate);
    request->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return server.requests().size() == 1; }));
    std::thread([request] { request->cancel(); }).join();
    ASSERT_TRUE(pumpUntil([&] { return request->isFinished() && delegate->failed == 1; }));
    request->cancel();
    pumpUntil([] { return false; }, 0.1);
    EXPECT_EQ(1, delegate->failed);
    EXPECT_EQ(4, request->error()->code());
    EXPECT_TRUE(request->isCancelled());
}

// A synchronous request cancelled before it starts reports once and ends as an
// operation, like one cancelled on its way; under cancellation at random moments
// every request ends, reported exactly once.
TEST_F(RequestTest, SynchronousRequestsCancelledAtAnyMomentFinish) {
    HttpTestServer server([](const ReceivedRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return ok("x");
    });
    for (bool clearDelegates : {false, true}) {
        auto request = TXHTTPRequest::requestWithURL(U(server.url()));
        auto d = std::make_shared<txtest::RecordingDelegate>();
        request->setDelegate(d);
        clearDelegates ? request->clearDelegatesAndCancel() : request->cancel();
        request->startSynchronous();
        EXPECT_TRUE(request->isFinished()) << clearDelegates;
        EXPECT_FALSE(request->isExecuting()) << clearDelegates;
        ASSERT_TRUE(request->error());
        EXPECT_EQ(4, request->error()->code());
        pumpUntil([] { return false; }, 0.05);
        EXPECT_EQ(clearDelegates ? 0 : 1, d->failed);
    }

    constexpr int kThreads = 4, kEach = 25;
    std::vector<std::shared_ptr<TXHTTPRequest>> requests;
    std::vector<std::shared_ptr<std::atomic<int>>> reports;
    for (int i = 0; i < kThreads * kEach; ++i) {
        auto request = TXHTTPRequest::requestWithURL(U(server.url("/" + std::to_string(i))));
        auto count = std::make_shared<std::atomic<int>>(0);
        request->setCompletionBlock([count] { ++*count; });
        request->setFailedBlock([count] { ++*count; });
        requests.push_back(request);
        reports.push_back(count);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            for (int i = t * kEach; i < (t + 1) * kEach; ++i) {
                auto request = requests[i];
                auto delay = std::chrono::microseconds(random() % 3000);
                std::thread canceller([request, delay] {
                    std::this_thread::sleep_for(delay);
                    request->cancel();
                });
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
                request->startSynchronous();
                canceller.join();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(pumpUntil(
        [&] {
            return std::all_of(reports.begin(), reports.end(), [](auto& n) { return *n >= 1; });
        },
        20));
    pumpUntil([] { return false; }, 0.1);
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_TRUE(requests[i]->isFinished()) << i;
        EXPECT_FALSE(requests[i]->isExecuting()) << i;
        EXPECT_EQ(1, reports[i]->load()) << i;
    }
}

TEST_F(RequestTest, CancelAfterCompletionReportsNothing) {
    HttpTestServer server([](const ReceivedRequest&) { return ok("x"); });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    runAsync(request);
    request->cancel();
    pumpUntil([] { return false; }, 0.1);
    EXPECT_EQ(0, delegate->failed);
    EXPECT_FALSE(request->error());
    EXPECT_FALSE(request->isCancelled());
}

// An exception in a subclass's hook must not take the host process down.
TEST_F(RequestTest, ExceptionInsideTheRequestBecomesCode10) {
    struct Throwing : TXHTTPRequest {
        Throwing() : TXHTTPRequest(U("http://127.0.0.1:9/")) {}
        void buildPostBody() override { throw std::runtime_error("body broke"); }
    };
    auto request = std::make_shared<Throwing>();
    request->setDelegate(delegate);
    request->startAsynchronous();
    ASSERT_TRUE(pumpUntil([&] { return delegate->failed == 1 && request->isFinished(); }));
    EXPECT_EQ(10, request->error()->code());
    EXPECT_EQ(
        "body broke",
        request->error()->userInfo().find(base::Error::kLocalizedFailureReasonKey)->stringValue());
}

// ---- connection reuse --------------------------------------------------------------------

TEST_F(RequestTest, ConsecutiveGetsShareOneConnectionAndPostsDoNot) {
    HttpTestServer server([](const ReceivedRequest&) { return ok("k"); });
    auto a = TXHTTPRequest::requestWithURL(U(server.url()));
    a->startSynchronous();
    auto b = TXHTTPRequest::requestWithURL(U(server.url()));
    b->startSynchronous();
    EXPECT_NE(0u, a->connectionID());
    EXPECT_EQ(a->connectionID(), b->connectionID());
    EXPECT_EQ(1, server.connections());
    auto post = TXHTTPRequest::requestWithURL(U(server.url()));
    post->setRequestMethod("POST");
    post->appendPostData(std::string_view("p"));
    post->startSynchronous();
    EXPECT_EQ(0u, post->connectionID());
    EXPECT_EQ(2, server.connections());
}

TEST_F(RequestTest, KeepAliveHeaderDecidesReuse) {
    HttpTestServer server([](const ReceivedRequest& r) {
        if (r.target == "/few")
            return ok("", "Keep-Alive: timeout=5, max=5\r\n");
        if (r.target == "/http10")
            return Reply{"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"};
        return ok("", "Keep-Alive: timeout=15, max=100\r\n");
    });
    auto few = TXHTTPRequest::requestWithURL(U(server.url("/few")));
    few->startSynchronous();
    EXPECT_FALSE(few->connectionCanBeReused());
    auto old = TXHTTPRequest::requestWithURL(U(server.url("/http10")));
    old->startSynchronous();
    EXPECT_FALSE(old->connectionCanBeReused());
    auto many = TXHTTPRequest::requestWithURL(U(server.url("/many")));
    many->startSynchronous();
    EXPECT_TRUE(many->connectionCanBeReused());
    EXPECT_EQ(15.0, many->persistentConnectionTimeoutSeconds());
}

// A kept-alive connection the server closed meanwhile is retried once on a new one.
TEST_F(RequestTest, DroppedKeptAliveConnectionIsRetriedOnANewOne) {
    int served = 0;
    HttpTestServer server([&](const ReceivedRequest&) {
        ++served;
        return Reply{HttpTestServer::response(200, "", "r"), true};  // closes silently
    });
    auto a = TXHTTPRequest::requestWithURL(U(server.url()));
    a->startSynchronous();
    pumpUntil([] { return false; }, 0.1);
    auto b = TXHTTPRequest::requestWithURL(U(server.url()));
    b->startSynchronous();
    EXPECT_FALSE(b->error()) << b->error()->localizedDescription();
    EXPECT_EQ("r", b->responseString().value_or(""));
}

// ---- class utilities ---------------------------------------------------------------------

TEST(RequestUtilities, UserAgentKeepsItsShape) {
    EXPECT_EQ("Name 1.2 rv:345 (Macintosh; Mac OS X 10.9.5; en_US)",
              TXHTTPRequest::userAgentFor("Name", "1.2", "345", "Macintosh", "Mac OS X", "10.9.5",
                                          "en_US"));
    EXPECT_EQ("Name 1.2 (X11; Linux 6.1.0; de_DE)",
              TXHTTPRequest::userAgentFor("Name", "1.2", "1.2", "X11", "Linux", "6.1.0", "de_DE"));
    EXPECT_FALSE(TXHTTPRequest::userAgentFor("", "1", "1", "X11", "Linux", "6.1.0", "en_US"));
}

// Run by DefaultUserAgentNamesTheMainBundle inside copies of this program: prints the
// default user agent and the one a server received.
TEST(UserAgentProbe, PrintsTheDefault) {
    if (!std::getenv("QV_USER_AGENT_PROBE")) {
        GTEST_SKIP() << "only run by RequestUtilities.DefaultUserAgentNamesTheMainBundle";
    }
    HttpTestServer server([](const ReceivedRequest&) { return ok(""); });
    auto request = TXHTTPRequest::requestWithURL(U(server.url()));
    request->startSynchronous();
    ASSERT_EQ(1u, server.requests().size());
    const ReceivedRequest seen = server.requests().front();
    std::cout << "AGENT " << TXHTTPRequest::defaultUserAgentString().value_or("(none)") << "|"
              << (seen.hasHeader("User-Agent") ? seen.header("User-Agent") : "(none)") << "\n";
}

// The program's bundle gives the name and version; a program without one sends none.
TEST(RequestUtilities, DefaultUserAgentNamesTheMainBundle) {
    testsupport::TempDir dir;
    dir.makeFolder("Review Hub.app/Contents/MacOS");
    std::string exe = dir.file("Review Hub.app/Contents/MacOS/hub");
    std::filesystem::copy_file("/proc/self/exe", exe);
    ::chmod(exe.c_str(), 0700);
    auto probe = [&](const std::string& program) {
        auto result =
            testsupport::runTool({program, "--gtest_filter=UserAgentProbe.PrintsTheDefault"},
                                 {"QV_USER_AGENT_PROBE=1", "LC_ALL=de_DE.UTF-8"});
        size_t at = result.out.find("AGENT ");
        return at == std::string::npos
                   ? result.out
                   : result.out.substr(at + 6, result.out.find('\n', at) - at - 6);
    };
    utsname names{};
    ASSERT_EQ(0, ::uname(&names));
    unsigned major = 0, minor = 0, fix = 0;
    std::sscanf(names.release, "%u.%u.%u", &major, &minor, &fix);
    std::string platform = " (X11; Linux " + std::to_string(major) + "." + std::to_string(minor) +
                           "." + std::to_string(fix) + "; de_DE)";

    auto writeInfo = [&](base::Dictionary info) {
        ASSERT_TRUE(base::PropertyList::writeFile(base::Value(std::move(info)),
                                                  dir.file("Review Hub.app/Contents/Info.plist")));
    };
    writeInfo({{"CFBundleDisplayName", "Quorvane Review Hub"},
               {"CFBundleName", "Hub"},
               {"CFBundleShortVersionString", "2.1"},
               {"CFBundleVersion", "412"}});
    std::string agent = "Quorvane Review Hub 2.1 rv:412" + platform;
    EXPECT_EQ(agent + "|" + agent, probe(exe));

    writeInfo({{"CFBundleName", "Hub"},
               {"CFBundleShortVersionString", "2.1"},
               {"CFBundleVersion", "2.1"}});
    EXPECT_EQ("Hub 2.1" + platform + "|Hub 2.1" + platform, probe(exe));

    // This very program lies in no bundle.
    EXPECT_EQ("(none)|(none)", probe(std::filesystem::read_symlink("/proc/self/exe").string()));
}

TEST(RequestUtilities, MimeTypesAreDeterministic) {
    testsupport::TempDir dir;
    EXPECT_EQ("video/quicktime", TXHTTPRequest::mimeTypeForFileAtPath(dir.write("a.MOV", "")));
    EXPECT_EQ("application/octet-stream",
              TXHTTPRequest::mimeTypeForFileAtPath(dir.write("a.unknownext", "")));
    EXPECT_FALSE(TXHTTPRequest::mimeTypeForFileAtPath(dir.file("missing.mov")));
    EXPECT_EQ("Zm9vOmJhcg==",
              TXHTTPRequest::base64forData(base::Data{'f', 'o', 'o', ':', 'b', 'a', 'r'}));
}

}  // namespace

namespace {

// Many first callers at once still get one network thread.
TEST(NetworkThreadTest, ConcurrentFirstCallersShareOneThread) {
    std::vector<std::thread> threads;
    std::vector<base::RunLoop*> loops(8);
    for (size_t i = 0; i < loops.size(); ++i) {
        threads.emplace_back([&loops, i] { loops[i] = &TXNetworkThread::runLoop(); });
    }
    for (auto& t : threads) t.join();
    for (base::RunLoop* loop : loops) {
        EXPECT_EQ(loop, loops.front());
        EXPECT_TRUE(TXNetworkThread::isNetworkRunLoop(loop));
    }
}

}  // namespace
