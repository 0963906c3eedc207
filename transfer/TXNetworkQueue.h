#pragma once
// A batch of requests run with one delegate, one pair of progress receivers for the
// whole batch, and the choice to cancel the rest when one request fails. It is
// created suspended: nothing runs before go(). Made by queue() (requests refer to
// it weakly, so a callback that arrives after it is gone is dropped).
//
// Requests report to it on the main thread; its counters are guarded anyway, since
// requests may be added from other threads.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/OperationQueue.h"
#include "base/Value.h"
#include "transfer/TXHTTPRequest.h"

class TXNetworkQueue;

// The queue-finished selector gets the queue instead of a request.
using TXQueueSelector = std::function<void(TXHTTPRequestDelegate&, TXNetworkQueue&)>;

template <class T>
TXQueueSelector TXQueueFinishedSelector(void (T::*method)(TXNetworkQueue&)) {
    return [method](TXHTTPRequestDelegate& d, TXNetworkQueue& q) {
        if (auto* t = dynamic_cast<T*>(&d)) {
            (t->*method)(q);
        }
    };
}

class TXNetworkQueue : public TXHTTPRequestDelegate,
                       public TXProgressDelegate,
                       public std::enable_shared_from_this<TXNetworkQueue> {
  public:
    static constexpr int kMaxConcurrentRequests = 4;
    static constexpr int kHEADPriority = 10;

    static std::shared_ptr<TXNetworkQueue> queue();
    ~TXNetworkQueue() override;
    // A new suspended queue with this one's receivers, selectors, flags and user info.
    std::shared_ptr<TXNetworkQueue> copy() const;

    // ---- running ----
    void go();
    void setSuspended(bool suspended);
    bool isSuspended() const;
    // Cancels everything, forgets the receivers and selectors (not the redirect
    // selector) and suspends the queue again.
    void reset();
    void cancelAllOperations();
    void setMaxConcurrentOperationCount(int n);
    int maxConcurrentOperationCount() const;
    size_t operationCount() const;
    std::vector<std::shared_ptr<base::Operation>> operations() const;

    // Throws OWException "AttemptToAddInvalidRequest" for anything but a request.
    void addOperation(const std::shared_ptr<base::Operation>& operation);
    // Adds a HEAD request that measures another request's download; not counted.
    void addHEADOperation(const std::shared_ptr<base::Operation>& operation);

    // ---- receivers ----
    std::shared_ptr<TXHTTPRequestDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<TXHTTPRequestDelegate>& delegate);
    void setRequestDidStartSelector(TXRequestSelector selector);
    void setRequestDidReceiveResponseHeadersSelector(TXHeadersSelector selector);
    void setRequestWillRedirectSelector(TXRedirectSelector selector);
    void setRequestDidFinishSelector(TXRequestSelector selector);
    void setRequestDidFailSelector(TXRequestSelector selector);
    void setQueueDidFinishSelector(TXQueueSelector selector);

    std::shared_ptr<TXProgressDelegate> uploadProgressDelegate() const;
    void setUploadProgressDelegate(const std::shared_ptr<TXProgressDelegate>& receiver);
    std::shared_ptr<TXProgressDelegate> downloadProgressDelegate() const;
    void setDownloadProgressDelegate(const std::shared_ptr<TXProgressDelegate>& receiver);
    // A bar goes to 0 of 1.
    void resetProgressDelegate(const std::shared_ptr<TXProgressDelegate>& receiver);

    // ---- state ----
    uint64_t bytesUploadedSoFar() const;
    uint64_t totalBytesToUpload() const;
    uint64_t bytesDownloadedSoFar() const;
    uint64_t totalBytesToDownload() const;
    bool shouldCancelAllRequestsOnFailure() const;
    void setShouldCancelAllRequestsOnFailure(bool on);
    int requestsCount() const;
    bool showAccurateProgress() const;
    void setShowAccurateProgress(bool on);
    base::Dictionary userInfo() const;
    void setUserInfo(base::Dictionary info);

    // ---- what requests tell the queue ----
    void requestStarted(TXHTTPRequest& request) override;
    void didReceiveResponseHeaders(TXHTTPRequest& request,
                                   const platform::net::HttpHeaders& headers) override;
    bool answersWillRedirect() const override;
    void willRedirectToURL(TXHTTPRequest& request, const base::Url& url) override;
    void requestFinished(TXHTTPRequest& request) override;
    void requestFailed(TXHTTPRequest& request) override;
    bool answersAuthenticationNeeded() const override;
    void authenticationNeededForRequest(TXHTTPRequest& request) override;
    bool answersProxyAuthenticationNeeded() const override;
    void proxyAuthenticationNeededForRequest(TXHTTPRequest& request) override;

    void didReceiveBytes(TXHTTPRequest& request, int64_t amount) override;
    void didSendBytes(TXHTTPRequest& request, int64_t amount) override;
    void incrementDownloadSizeBy(TXHTTPRequest& request, int64_t amount) override;
    void incrementUploadSizeBy(TXHTTPRequest& request, int64_t amount) override;

  private:
    TXNetworkQueue();
    void measureRequest(const std::shared_ptr<TXHTTPRequest>& request);
    // One request has ended; fires the queue-finished selector at the last.
    void requestEnded(TXHTTPRequest& request, bool failed);
    static void addClamped(uint64_t& counter, int64_t amount);

    std::shared_ptr<base::OperationQueue> operations_;
    mutable std::mutex mutex_;
    // What a copy takes over: the receivers and how to run; not the counts.
    struct Settings {
        std::weak_ptr<TXHTTPRequestDelegate> delegate;
        TXRequestSelector didStart, didFinish, didFail;
        TXHeadersSelector didReceiveHeaders;
        TXRedirectSelector willRedirect;
        TXQueueSelector queueDidFinish;
        std::weak_ptr<TXProgressDelegate> uploadProgress, downloadProgress;
        bool cancelAllOnFailure = true;
        bool accurateProgress = false;
        base::Dictionary userInfo;
    } settings_;
    uint64_t bytesUploadedSoFar_ = 0, totalBytesToUpload_ = 0;
    uint64_t bytesDownloadedSoFar_ = 0, totalBytesToDownload_ = 0;
    int requestsCount_ = 0;
};
