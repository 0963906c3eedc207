#pragma once
// A delegate that writes down what it was told, and whether it was told on the
// main thread, for the engine tests.
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "base/RunLoop.h"
#include "platform/net/HttpHeaders.h"
#include "transfer/TXHTTPRequest.h"

namespace txtest {

class RecordingDelegate : public TXHTTPRequestDelegate, public TXProgressDelegate {
  public:
    std::vector<std::string> events;
    bool offMainThread = false;
    int finished = 0, failed = 0, started = 0;
    int64_t sent = 0, received = 0, uploadSize = 0, downloadSize = 0;
    std::vector<int64_t> sentAmounts;
    std::vector<double> fractions;  // as a progress bar is told them
    bool answerAuthentication = false;
    int authenticationQuestions = 0;
    // The error of the last failure.
    std::optional<base::Error> error;

    void note(const std::string& what) {
        if (!base::MainQueue::isMainThread())
            offMainThread = true;
        events.push_back(what);
    }
    void requestStarted(TXHTTPRequest&) override {
        ++started;
        note("started");
    }
    void didReceiveResponseHeaders(TXHTTPRequest&, const platform::net::HttpHeaders&) override {
        note("headers");
    }
    void requestFinished(TXHTTPRequest&) override {
        ++finished;
        note("finished");
    }
    void requestFailed(TXHTTPRequest& r) override {
        ++failed;
        error = r.error();
        note("failed");
    }
    bool answersAuthenticationNeeded() const override { return answerAuthentication; }
    void authenticationNeededForRequest(TXHTTPRequest&) override {
        ++authenticationQuestions;
        note("auth");
    }
    void didSendBytes(TXHTTPRequest&, int64_t n) override {
        sent += n;
        sentAmounts.push_back(n);
    }
    void setDoubleValue(double fraction) override { fractions.push_back(fraction); }
    void didReceiveBytes(TXHTTPRequest&, int64_t n) override { received += n; }
    void incrementUploadSizeBy(TXHTTPRequest&, int64_t n) override { uploadSize += n; }
    void incrementDownloadSizeBy(TXHTTPRequest&, int64_t n) override { downloadSize += n; }
};

}  // namespace txtest
