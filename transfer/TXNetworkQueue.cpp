#include "transfer/TXNetworkQueue.h"

#include <limits>

#include "base/RunLoop.h"
#include "support/OWException.h"

namespace {

// The body is built by a protected hook of the request; the queue measures it before
// the request runs, so it reaches the hook through a member pointer taken here.
struct BodyBuilder : TXHTTPRequest {
    static void build(TXHTTPRequest& request) { (request.*(&BodyBuilder::buildPostBody))(); }
};

// Progress bars are touched on the main thread only.
void onMain(std::function<void()> task) {
    if (base::MainQueue::isMainThread()) {
        task();
    } else {
        base::MainQueue::post(std::move(task));
    }
}

double fraction(uint64_t soFar, uint64_t total) {
    return total > 0 ? static_cast<double>(soFar) / static_cast<double>(total) : 0.0;
}

}  // namespace

TXNetworkQueue::TXNetworkQueue()
    : operations_(base::OperationQueue::create("TXNetworkQueue", kMaxConcurrentRequests, true)) {}

std::shared_ptr<TXNetworkQueue> TXNetworkQueue::queue() {
    return std::shared_ptr<TXNetworkQueue>(new TXNetworkQueue());
}

TXNetworkQueue::~TXNetworkQueue() {
    for (const auto& op : operations_->operations()) {
        if (auto request = std::dynamic_pointer_cast<TXHTTPRequest>(op)) {
            request->setQueue(nullptr);
        }
    }
}

std::shared_ptr<TXNetworkQueue> TXNetworkQueue::copy() const {
    auto other = queue();
    std::scoped_lock guard(mutex_, other->mutex_);
    other->settings_ = settings_;
    return other;
}

// ---- running ----------------------------------------------------------------

void TXNetworkQueue::go() {
    setSuspended(false);
}

void TXNetworkQueue::setSuspended(bool suspended) {
    operations_->setSuspended(suspended);
}

bool TXNetworkQueue::isSuspended() const {
    return operations_->isSuspended();
}

void TXNetworkQueue::reset() {
    cancelAllOperations();
    {
        std::lock_guard guard(mutex_);
        settings_.delegate.reset();
        settings_.uploadProgress.reset();
        settings_.downloadProgress.reset();
        settings_.didStart = nullptr;
        settings_.didReceiveHeaders = nullptr;
        settings_.didFail = nullptr;
        settings_.didFinish = nullptr;
        settings_.queueDidFinish = nullptr;
    }
    setSuspended(true);
}

void TXNetworkQueue::cancelAllOperations() {
    {
        std::lock_guard guard(mutex_);
        bytesUploadedSoFar_ = totalBytesToUpload_ = 0;
        bytesDownloadedSoFar_ = totalBytesToDownload_ = 0;
    }
    operations_->cancelAllOperations();
}

void TXNetworkQueue::setMaxConcurrentOperationCount(int n) {
    operations_->setMaxConcurrentOperationCount(n);
}

int TXNetworkQueue::maxConcurrentOperationCount() const {
    return operations_->maxConcurrentOperationCount();
}

size_t TXNetworkQueue::operationCount() const {
    return operations_->operationCount();
}

std::vector<std::shared_ptr<base::Operation>> TXNetworkQueue::operations() const {
    return operations_->operations();
}

void TXNetworkQueue::addOperation(const std::shared_ptr<base::Operation>& operation) {
    auto request = std::dynamic_pointer_cast<TXHTTPRequest>(operation);
    if (!request) {
        throw OWException("AttemptToAddInvalidRequest",
                          "Attempted to add an object that was not an TXHTTPRequest to an "
                          "TXNetworkQueue");
    }
    {
        std::lock_guard guard(mutex_);
        ++requestsCount_;
    }
    measureRequest(request);
    request->setShowAccurateProgress(showAccurateProgress());
    request->setQueue(shared_from_this());
    operations_->addOperation(request);
}

// With accurate progress the batch counts bytes: the upload size is known once the
// body is built, the download size from a HEAD request sent first. Otherwise every
// request counts as one unit each way.
void TXNetworkQueue::measureRequest(const std::shared_ptr<TXHTTPRequest>& request) {
    if (showAccurateProgress()) {
        BodyBuilder::build(*request);
        if (request->requestMethod() == "GET" && isSuspended()) {
            auto head = request->HEADRequest();
            addHEADOperation(head);
            request->addDependency(head);
            if (request->shouldResetDownloadProgress()) {
                resetProgressDelegate(downloadProgressDelegate());
                // The companion reports the size through this request's flag; once it
                // has finished (before this request can start) the request itself
                // must not count its length a second time.
                std::weak_ptr<TXHTTPRequest> weakRequest = request;
                head->setCompletion([weakRequest] {
                    if (auto r = weakRequest.lock()) {
                        r->setShouldResetDownloadProgress(false);
                    }
                });
            }
        }
        std::lock_guard guard(mutex_);
        totalBytesToUpload_ += request->postLength();
    } else {
        std::lock_guard guard(mutex_);
        ++totalBytesToDownload_;
        ++totalBytesToUpload_;
    }
    if (request->shouldResetUploadProgress()) {
        resetProgressDelegate(uploadProgressDelegate());
        request->setShouldResetUploadProgress(false);
    }
}

void TXNetworkQueue::addHEADOperation(const std::shared_ptr<base::Operation>& operation) {
    auto request = std::dynamic_pointer_cast<TXHTTPRequest>(operation);
    if (!request) {
        return;
    }
    request->setRequestMethod("HEAD");
    request->setPriority(static_cast<base::Operation::Priority>(kHEADPriority));
    request->setShowAccurateProgress(true);
    request->setQueue(shared_from_this());
    operations_->addOperation(request);
}

// ---- receivers --------------------------------------------------------------

std::shared_ptr<TXHTTPRequestDelegate> TXNetworkQueue::delegate() const {
    std::lock_guard guard(mutex_);
    return settings_.delegate.lock();
}

void TXNetworkQueue::setDelegate(const std::shared_ptr<TXHTTPRequestDelegate>& delegate) {
    std::lock_guard guard(mutex_);
    settings_.delegate = delegate;
}

void TXNetworkQueue::setRequestDidStartSelector(TXRequestSelector selector) {
    std::lock_guard guard(mutex_);
    settings_.didStart = std::move(selector);
}

void TXNetworkQueue::setRequestDidReceiveResponseHeadersSelector(TXHeadersSelector selector) {
    std::lock_guard guard(mutex_);
    settings_.didReceiveHeaders = std::move(selector);
}

void TXNetworkQueue::setRequestWillRedirectSelector(TXRedirectSelector selector) {
    std::lock_guard guard(mutex_);
    settings_.willRedirect = std::move(selector);
}

void TXNetworkQueue::setRequestDidFinishSelector(TXRequestSelector selector) {
    std::lock_guard guard(mutex_);
    settings_.didFinish = std::move(selector);
}

void TXNetworkQueue::setRequestDidFailSelector(TXRequestSelector selector) {
    std::lock_guard guard(mutex_);
    settings_.didFail = std::move(selector);
}

void TXNetworkQueue::setQueueDidFinishSelector(TXQueueSelector selector) {
    std::lock_guard guard(mutex_);
    settings_.queueDidFinish = std::move(selector);
}

std::shared_ptr<TXProgressDelegate> TXNetworkQueue::uploadProgressDelegate() const {
    std::lock_guard guard(mutex_);
    return settings_.uploadProgress.lock();
}

void TXNetworkQueue::setUploadProgressDelegate(
    const std::shared_ptr<TXProgressDelegate>& receiver) {
    {
        std::lock_guard guard(mutex_);
        settings_.uploadProgress = receiver;
    }
    resetProgressDelegate(receiver);
}

std::shared_ptr<TXProgressDelegate> TXNetworkQueue::downloadProgressDelegate() const {
    std::lock_guard guard(mutex_);
    return settings_.downloadProgress.lock();
}

void TXNetworkQueue::setDownloadProgressDelegate(
    const std::shared_ptr<TXProgressDelegate>& receiver) {
    {
        std::lock_guard guard(mutex_);
        settings_.downloadProgress = receiver;
    }
    resetProgressDelegate(receiver);
}

void TXNetworkQueue::resetProgressDelegate(const std::shared_ptr<TXProgressDelegate>& receiver) {
    if (!receiver) {
        return;
    }
    onMain([weak = std::weak_ptr<TXProgressDelegate>(receiver)] {
        if (auto r = weak.lock()) {
            r->setMaxValue(1.0);
            r->setDoubleValue(0.0);
        }
    });
}

// ---- state ------------------------------------------------------------------

uint64_t TXNetworkQueue::bytesUploadedSoFar() const {
    std::lock_guard guard(mutex_);
    return bytesUploadedSoFar_;
}

uint64_t TXNetworkQueue::totalBytesToUpload() const {
    std::lock_guard guard(mutex_);
    return totalBytesToUpload_;
}

uint64_t TXNetworkQueue::bytesDownloadedSoFar() const {
    std::lock_guard guard(mutex_);
    return bytesDownloadedSoFar_;
}

uint64_t TXNetworkQueue::totalBytesToDownload() const {
    std::lock_guard guard(mutex_);
    return totalBytesToDownload_;
}

bool TXNetworkQueue::shouldCancelAllRequestsOnFailure() const {
    std::lock_guard guard(mutex_);
    return settings_.cancelAllOnFailure;
}

void TXNetworkQueue::setShouldCancelAllRequestsOnFailure(bool on) {
    std::lock_guard guard(mutex_);
    settings_.cancelAllOnFailure = on;
}

int TXNetworkQueue::requestsCount() const {
    std::lock_guard guard(mutex_);
    return requestsCount_;
}

bool TXNetworkQueue::showAccurateProgress() const {
    std::lock_guard guard(mutex_);
    return settings_.accurateProgress;
}

void TXNetworkQueue::setShowAccurateProgress(bool on) {
    std::lock_guard guard(mutex_);
    settings_.accurateProgress = on;
}

base::Dictionary TXNetworkQueue::userInfo() const {
    std::lock_guard guard(mutex_);
    return settings_.userInfo;
}

void TXNetworkQueue::setUserInfo(base::Dictionary info) {
    std::lock_guard guard(mutex_);
    settings_.userInfo = std::move(info);
}

// ---- what requests tell the queue ---------------------------------------------
// Selectors and the delegate are copied out first: a selector may call back into
// the queue (reset it, add requests).

void TXNetworkQueue::requestStarted(TXHTTPRequest& request) {
    auto d = delegate();
    TXRequestSelector selector;
    {
        std::lock_guard guard(mutex_);
        selector = settings_.didStart;
    }
    if (d && selector) {
        selector(*d, request);
    }
}

void TXNetworkQueue::didReceiveResponseHeaders(TXHTTPRequest& request,
                                               const platform::net::HttpHeaders& headers) {
    auto d = delegate();
    TXHeadersSelector selector;
    {
        std::lock_guard guard(mutex_);
        selector = settings_.didReceiveHeaders;
    }
    if (d && selector) {
        selector(*d, request, headers);
    }
}

// A request waits for a redirect decision only when someone here can give it.
bool TXNetworkQueue::answersWillRedirect() const {
    std::lock_guard guard(mutex_);
    return settings_.willRedirect && !settings_.delegate.expired();
}

void TXNetworkQueue::willRedirectToURL(TXHTTPRequest& request, const base::Url& url) {
    auto d = delegate();
    TXRedirectSelector selector;
    {
        std::lock_guard guard(mutex_);
        selector = settings_.willRedirect;
    }
    if (d && selector) {
        selector(*d, request, url);
    }
}

void TXNetworkQueue::requestFinished(TXHTTPRequest& request) {
    requestEnded(request, false);
}

void TXNetworkQueue::requestFailed(TXHTTPRequest& request) {
    requestEnded(request, true);
}

void TXNetworkQueue::requestEnded(TXHTTPRequest& request, bool failed) {
    // A selector may drop the caller's last reference to the queue.
    auto keepAlive = shared_from_this();
    auto d = delegate();
    TXRequestSelector selector;
    TXQueueSelector finished;
    int remaining;
    bool cancelRest;
    {
        std::lock_guard guard(mutex_);
        remaining = --requestsCount_;
        selector = failed ? settings_.didFail : settings_.didFinish;
        finished = settings_.queueDidFinish;
        cancelRest = failed && settings_.cancelAllOnFailure;
    }
    if (d && selector) {
        selector(*d, request);
    }
    if (remaining == 0 && d && finished) {
        finished(*d, *this);
    }
    if (cancelRest && remaining > 0) {
        cancelAllOperations();
    }
}

bool TXNetworkQueue::answersAuthenticationNeeded() const {
    auto d = delegate();
    return d && d->answersAuthenticationNeeded();
}

void TXNetworkQueue::authenticationNeededForRequest(TXHTTPRequest& request) {
    if (auto d = delegate(); d && d->answersAuthenticationNeeded()) {
        d->authenticationNeededForRequest(request);
    }
}

bool TXNetworkQueue::answersProxyAuthenticationNeeded() const {
    auto d = delegate();
    return d && d->answersProxyAuthenticationNeeded();
}

void TXNetworkQueue::proxyAuthenticationNeededForRequest(TXHTTPRequest& request) {
    if (auto d = delegate(); d && d->answersProxyAuthenticationNeeded()) {
        d->proxyAuthenticationNeededForRequest(request);
    }
}

// Amounts are increments; a retried request withdraws what it had reported, so a
// counter never goes below zero.
void TXNetworkQueue::addClamped(uint64_t& counter, int64_t amount) {
    if (amount >= 0) {
        uint64_t room = std::numeric_limits<uint64_t>::max() - counter;
        counter += std::min(static_cast<uint64_t>(amount), room);
    } else {
        uint64_t withdrawn = static_cast<uint64_t>(-(amount + 1)) + 1;
        counter = withdrawn > counter ? 0 : counter - withdrawn;
    }
}

void TXNetworkQueue::didReceiveBytes(TXHTTPRequest&, int64_t amount) {
    std::shared_ptr<TXProgressDelegate> receiver;
    double done;
    {
        std::lock_guard guard(mutex_);
        addClamped(bytesDownloadedSoFar_, amount);
        receiver = settings_.downloadProgress.lock();
        done = fraction(bytesDownloadedSoFar_, totalBytesToDownload_);
    }
    if (receiver) {
        receiver->setDoubleValue(done);
    }
}

void TXNetworkQueue::didSendBytes(TXHTTPRequest&, int64_t amount) {
    std::shared_ptr<TXProgressDelegate> receiver;
    double done;
    {
        std::lock_guard guard(mutex_);
        addClamped(bytesUploadedSoFar_, amount);
        receiver = settings_.uploadProgress.lock();
        done = fraction(bytesUploadedSoFar_, totalBytesToUpload_);
    }
    if (receiver) {
        receiver->setDoubleValue(done);
    }
}

void TXNetworkQueue::incrementDownloadSizeBy(TXHTTPRequest&, int64_t amount) {
    std::lock_guard guard(mutex_);
    addClamped(totalBytesToDownload_, amount);
}

void TXNetworkQueue::incrementUploadSizeBy(TXHTTPRequest&, int64_t amount) {
    std::lock_guard guard(mutex_);
    addClamped(totalBytesToUpload_, amount);
}
