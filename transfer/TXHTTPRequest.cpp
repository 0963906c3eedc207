// The request operation: creation, the start paths, building the message, the
// status timer with time-out and retry, finishing, failing and cancellation.
#include "transfer/TXHTTPRequest.h"

#include <cxxabi.h>
#include <unistd.h>

#include <exception>
#include <typeinfo>

#include "transfer/TXBandwidthThrottle.h"
#include "transfer/TXHTTPRequestState.h"
#include "transfer/TXNetworkThread.h"

namespace {

constexpr double kStatusInterval = 0.25;

std::mutex classLock;
double gDefaultTimeOut = 10.0;
std::shared_ptr<TXCacheDelegate> gDefaultCache;

std::string demangledName(const std::type_info& type) {
    int status = 0;
    char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string text = status == 0 && name ? name : type.name();
    std::free(name);
    return text;
}

base::Error exceptionError(const std::string& name, const std::string& reason) {
    base::Dictionary info{{base::Error::kLocalizedDescriptionKey, name},
                          {base::Error::kLocalizedFailureReasonKey, reason}};
    base::Error error(TXHTTPRequestErrorDomain, static_cast<int>(TXErrorCode::UnhandledException),
                      info);
    error.setUnderlying(
        base::Error(TXHTTPRequestErrorDomain, static_cast<int>(TXErrorCode::UnhandledException)));
    return error;
}

}  // namespace

// ---- creation ---------------------------------------------------------------

TXHTTPRequest::TXHTTPRequest(const std::optional<base::Url>& url)
    : s_(std::make_unique<State>(*this)) {
    s_->url = url;
    s_->timeOutSeconds = defaultTimeOutSeconds();
    s_->cache = defaultCache();
}

TXHTTPRequest::~TXHTTPRequest() {
    // Nothing can reach a request that is being destroyed: its stream, timer and
    // queued tasks all hold it strongly. What remains is to let go of files.
    s_->endQuestion();
    s_->closeDownloadFiles();
    s_->closePostBodyWriteStream();
    if (s_->stream)
        s_->stream->close();
}

std::shared_ptr<TXHTTPRequest> TXHTTPRequest::requestWithURL(const std::optional<base::Url>& url) {
    return std::shared_ptr<TXHTTPRequest>(new TXHTTPRequest(url));
}

std::shared_ptr<TXHTTPRequest> TXHTTPRequest::requestWithURL(const std::optional<base::Url>& url,
                                                             std::shared_ptr<TXCacheDelegate> cache,
                                                             int cachePolicy) {
    auto request = requestWithURL(url);
    request->setDownloadCache(std::move(cache));
    request->setCachePolicy(cachePolicy);
    return request;
}

std::shared_ptr<TXHTTPRequest> TXHTTPRequest::copy() const {
    return configuredCopy(requestWithURL(url()));
}

std::shared_ptr<TXHTTPRequest> TXHTTPRequest::HEADRequest() {
    auto head = requestWithURL(url());
    copyHeadConfigurationInto(*head);
    return head;
}

void TXHTTPRequest::copyConfigurationInto(TXHTTPRequest& other) const {
    std::scoped_lock guard(s_->lock, other.s_->lock);
    static_cast<TXHTTPRequestSettings&>(*other.s_) = *s_;
}

void TXHTTPRequest::copyHeadConfigurationInto(TXHTTPRequest& head) {
    std::scoped_lock guard(s_->lock, head.s_->lock);
    State& b = *head.s_;
    static_cast<TXHTTPRequestAccess&>(b) = *s_;
    b.method = "HEAD";
    b.requestHeaders = s_->requestHeaders;
    b.mainRequest = std::static_pointer_cast<TXHTTPRequest>(shared_from_this());
    b.role = State::Role::HeadOfMain;
}

// ---- helpers ----------------------------------------------------------------

std::shared_ptr<TXHTTPRequest> TXHTTPRequest::State::self() const {
    return std::static_pointer_cast<TXHTTPRequest>(
        const_cast<TXHTTPRequest&>(r).shared_from_this());
}

double TXHTTPRequest::State::now() const {
    base::RunLoop* l = loop ? loop : &base::RunLoop::current();
    return l->clock()->monotonic();
}

void TXHTTPRequest::State::onMain(std::function<void()> task) const {
    if (base::MainQueue::isMainThread()) {
        task();
    } else {
        base::MainQueue::post(std::move(task));
    }
}

// Work that runs on a thread we do not own must never let an exception escape:
// the engine runs inside host processes that would die of it.
void TXHTTPRequest::State::guarded(const char* where, const std::function<void()>& work) {
    std::lock_guard guard(lock);
    try {
        work();
    } catch (const std::exception& e) {
        r.failWithError(exceptionError(demangledName(typeid(e)), e.what()));
    } catch (...) {
        r.failWithError(exceptionError("unknown exception", where));
    }
}

void TXHTTPRequest::State::postToLoop(std::function<void(State&)> work) {
    auto keep = self();
    base::RunLoop* target = loop ? loop : &TXNetworkThread::runLoop();
    target->post([keep, work = std::move(work)] {
        keep->s_->guarded("a posted task", [&] { work(*keep->s_); });
    });
}

// ---- starting ---------------------------------------------------------------

void TXHTTPRequest::startSynchronous() {
    {
        std::lock_guard guard(s_->lock);
        s_->synchronous = true;
        s_->mode = TXHTTPRequestRunLoopMode;
        s_->inProgress = true;
        s_->loop = &base::RunLoop::current();
        markExecuting();
        if (!isCancelled() && !s_->isComplete()) {
            main();
        } else {
            // Cancelled (or failed) before it started: it has reported that already,
            // and now ends as an operation too, or whoever waits for it waits for ever.
            markAsFinished();
        }
    }
    base::RunLoop& loop = base::RunLoop::current();
    while (!complete() && !isFinished()) {
        loop.run(TXHTTPRequestRunLoopMode, 1e10, true);
    }
    std::lock_guard guard(s_->lock);
    s_->inProgress = false;
}

void TXHTTPRequest::startAsynchronous() {
    sharedQueue()->addOperation(shared_from_this());
}

void TXHTTPRequest::start() {
    markExecuting();
    std::lock_guard guard(s_->lock);
    s_->inProgress = true;
    s_->loop = &threadForRequest(*this);
    s_->postToLoop([](State& s) { s.r.main(); });
}

void TXHTTPRequest::main() {
    std::lock_guard guard(s_->lock);
    s_->guarded("main", [this] { s_->runMain(); });
}

void TXHTTPRequest::State::runMain() {
    if (error) {
        lifecycle.enter(Phase::Ended);
        r.markAsFinished();
        return;
    }
    lifecycle.enter(Phase::Running);
    didUseCachedResponse = false;
    if (!url) {
        r.failWithError(
            TXMakeError(TXErrorCode::UnableToCreateRequest, "Unable to create request (bad url?)"));
        return;
    }
    if (!isHeadOfMain()) {
        r.buildPostBody();
        if (error)
            return;
        if (method != "GET")
            cache.reset();
    }
    auto target = platform::net::Url::from(*url);
    if (!target || (target->scheme() != "http" && target->scheme() != "https")) {
        r.failWithError(
            TXMakeError(TXErrorCode::UnableToCreateRequest, "Unable to create request (bad url?)"));
        return;
    }
    message.emplace(method, *target,
                    http10 ? platform::net::HttpRequestMessage::Version::Http10
                           : platform::net::HttpRequestMessage::Version::Http11);
    if (auto main = mainRequest.lock()) {
        main->buildRequestHeaders();
    }
    r.buildRequestHeaders();
    if (error)
        return;
    if (cache && consultCache())
        return;
    applyAuthorizationHeader();
    for (const auto& [name, value] : requestHeaders.fields()) {
        message->headers().add(name, value);
    }
    if (configureProxies()) {
        startRequest();
    }
}

// True when the cache answered; otherwise it may still make the request
// conditional on what it holds.
bool TXHTTPRequest::State::consultCache() {
    if (cachePolicy == 0)
        cachePolicy = cache->defaultCachePolicy();
    if (cache->canUseCachedDataForRequest(r) && useDataFromCache())
        return true;
    if ((cachePolicy & (4 | 8)) && url) {
        if (auto held = cache->cachedResponseHeadersForURL(*url)) {
            if (auto etag = held->get("Etag"))
                message->setHeader("If-None-Match", *etag);
            if (auto modified = held->get("Last-Modified"))
                message->setHeader("If-Modified-Since", *modified);
        }
    }
    return false;
}

void TXHTTPRequest::buildRequestHeaders() {
    std::lock_guard guard(s_->lock);
    State& s = *s_;
    if (s.haveBuiltRequestHeaders)
        return;
    s.haveBuiltRequestHeaders = true;
    if (auto main = s.mainRequest.lock(); main && s.isHeadOfMain()) {
        s.requestHeaders = main->requestHeaders();
        return;
    }
    s.applyCookieHeader();
    if (!s.requestHeaders.contains("User-Agent")) {
        std::optional<std::string> agent =
            s.userAgent.empty() ? defaultUserAgentString() : std::optional(s.userAgent);
        if (agent)
            s.requestHeaders.set("User-Agent", *agent);
    }
    if (s.allowCompressedResponse)
        s.requestHeaders.set("Accept-Encoding", "gzip");
    if (s.compressBody)
        s.requestHeaders.set("Content-Encoding", "gzip");
    s.updatePartialDownloadSize();
    if (s.partialDownloadSize > 0) {
        s.requestHeaders.set("Range", "bytes=" + std::to_string(s.partialDownloadSize) + "-");
    }
}

void TXHTTPRequest::State::startRequest() {
    if (isCancelled())
        return;
    requestStarted();
    downloadComplete = false;
    lifecycle.enter(Phase::Running);
    totalBytesRead = lastBytesRead = 0;
    if (redirectCount == 0)
        originalURL = url;
    if (totalBytesSent > 0)
        removeUploadProgressSoFar();
    totalBytesSent = lastBytesSent = 0;
    uploadBufferSize.reset();
    contentLength = 0;
    responseHeaders.reset();
    authenticationNeeded = AuthenticationState::None;
    if (downloadPath.empty())
        rawResponseData.clear();
    rangeSent = message && message->header("Range").has_value();

    auto body = makeBodyStream();
    if (error)
        return;
    platform::net::HttpReadStream::Options options;
    if (message->url().isSecure()) {
        options.tls.validatesCertificateChain = validatesCertificate;
        options.tls.caFile = caFile;
        options.tls.identity = identity;
    }
    if (!proxyHost.empty() && proxyPort != 0) {
        options.proxy.type = proxyType == ProxyType::Socks ? platform::net::ProxyEntry::Type::Socks
                                                           : platform::net::ProxyEntry::Type::Http;
        options.proxy.host = proxyHost;
        options.proxy.port = static_cast<uint16_t>(proxyPort);
    }
    std::shared_ptr<platform::net::HttpReadStream> oldStream;
    chooseConnection(options);
    if (connection) {
        oldStream = connection->stream;
    }
    stream = platform::net::HttpReadStream::create(*message, body, options);
    if (connection) {
        connection->stream = stream;
    }
    std::weak_ptr<TXHTTPRequest> weak = self();
    stream->setClient([weak](platform::net::HttpReadStream::Event event) {
        if (auto me = weak.lock())
            me->s_->handleNetworkEvent(event);
    });
    loop = loop ? loop : &base::RunLoop::current();
    if (!TXBandwidthThrottle::shared().shouldHoldStreams(now())) {
        scheduleReadStream();
    }
    bool opened = stream->open();
    if (oldStream && oldStream != stream) {
        // A synchronous request may replace a pooled stream of the network thread,
        // whose timers can still fire there: close it on that thread. (Streams of
        // other threads are idle once their synchronous request has ended, and their
        // loops may be gone with their threads.)
        base::RunLoop* oldLoop = oldStream->runLoop();
        if (oldLoop != loop && TXNetworkThread::isNetworkRunLoop(oldLoop)) {
            oldLoop->post([oldStream] { oldStream->close(); });
        } else {
            oldStream->close();
        }
    }
    if (!opened) {
        connectionCanBeReused = false;
        std::optional<base::Error> why = stream->error();
        destroyReadStream();
        r.failWithError(TXMakeError(TXErrorCode::BuildingRequest, "Unable to start HTTP connection",
                                    why ? &*why : nullptr));
        return;
    }
    resetProgressIndicators();
    lastActivityTime = now();
    startStatusTimer();
}

// ---- stream events and the status timer -------------------------------------

void TXHTTPRequest::State::handleNetworkEvent(platform::net::HttpReadStream::Event event) {
    bool redirect = false, authenticate = false;
    auto keep = self();
    guarded("a stream event", [&] {
        if (isComplete())
            return;
        using Event = platform::net::HttpReadStream::Event;
        switch (event) {
            case Event::BytesAvailable:
                handleBytesAvailable();
                break;
            case Event::ErrorOccurred:
                handleStreamError();
                break;
            case Event::EndEncountered:
                handleStreamComplete();
                break;
        }
        performThrottling();
        redirect = downloadComplete && needsRedirect && !error;
        authenticate = downloadComplete && authenticationNeeded != AuthenticationState::None &&
                       !error && !needsRedirect;
    });
    if (redirect) {
        guarded("a redirect", [&] { followRedirectAfterEnd(); });
    } else if (authenticate) {
        guarded("a challenge", [&] {
            attemptToApplyCredentialsAndResume(authenticationNeeded == AuthenticationState::Proxy);
        });
    }
}

void TXHTTPRequest::State::startStatusTimer() {
    stopStatusTimer();
    std::weak_ptr<TXHTTPRequest> weak = self();
    statusTimer = loop->makeTimer(kStatusInterval, kStatusInterval,
                                  [weak] {
                                      auto me = weak.lock();
                                      if (!me)
                                          return;
                                      me->s_->guarded("the status timer",
                                                      [&] { me->s_->checkRequestStatus(); });
                                      std::lock_guard guard(me->s_->lock);
                                      if (!me->s_->inProgress || me->s_->isComplete())
                                          me->s_->stopStatusTimer();
                                  },
                                  {mode});
}

void TXHTTPRequest::State::stopStatusTimer() {
    statusTimer.reset();
}

bool TXHTTPRequest::State::shouldTimeOut() const {
    if (!stream || !streamScheduled || !lastActivityTime || timeOutSeconds <= 0)
        return false;
    double idle = now() - *lastActivityTime;
    if (idle <= timeOutSeconds)
        return false;
    if (postLength == 0)
        return true;
    if (uploadBufferSize && totalBytesSent > *uploadBufferSize)
        return true;
    // A body written whole to the socket may still be on its way over a slow link: while
    // the peer has not acknowledged all of it, give it half as long again. Once it has,
    // the wait is for the answer alone.
    if (stream->unacknowledgedOutput() == 0)
        return true;
    return idle > timeOutSeconds * 1.5;
}

void TXHTTPRequest::State::checkRequestStatus() {
    if (isComplete())
        return;
    performThrottling();
    if (shouldTimeOut()) {
        if (retryCount >= retriesOnTimeout) {
            r.failWithError(TXMakeError(TXErrorCode::RequestTimedOut, "The request timed out"));
            cancelLoad();
            lifecycle.enter(Phase::Ended);
            return;
        }
        // The timed-out stream is closed before the next one starts, so it can
        // neither deliver late events nor keep its socket.
        lifecycle.enter(Phase::Retrying);
        cancelLoad();
        updatePartialDownloadSize();
        if (partialDownloadSize > 0 && message) {
            message->setHeader("Range", "bytes=" + std::to_string(partialDownloadSize) + "-");
        }
        ++retryCount;
        startRequest();
        return;
    }
    if (stream && postLength > 0) {
        lastBytesSent = totalBytesSent;
        totalBytesSent = stream->requestBodyBytesWritten();
        if (totalBytesSent > lastBytesSent) {
            lastActivityTime = now();
            TXBandwidthThrottle::shared().incrementBandwidthUsedInLastSecond(totalBytesSent -
                                                                             lastBytesSent);
        }
    }
    updateProgressIndicators();
}

// ---- finishing --------------------------------------------------------------

void TXHTTPRequest::requestFinished() {
    std::lock_guard guard(s_->lock);
    if (s_->error || s_->isHeadOfMain())
        return;
    if (s_->isPACFileRequest()) {
        s_->reportFinished();
        return;
    }
    auto keep = s_->self();
    s_->onMain([keep] { keep->s_->reportFinished(); });
}

void TXHTTPRequest::State::reportFinished() {
    reportEnd(didFinish, completionBlock, &TXHTTPRequestDelegate::requestFinished);
}

// The delegate's selector, then the block, then the queue; a PAC file request tells
// only whoever waits for it. Selector and block are read as they stand at each step:
// the delegate may replace the block.
void TXHTTPRequest::State::reportEnd(const TXRequestSelector& selector, const BasicBlock& block,
                                     void (TXHTTPRequestDelegate::*queueCall)(TXHTTPRequest&)) {
    auto keep = self();
    if (isPACFileRequest()) {
        if (pacDone)
            pacDone(r);
        return;
    }
    if (auto d = delegate.lock(); d && selector)
        selector(*d, r);
    if (block)
        block();
    if (auto q = queue.lock())
        ((*q).*queueCall)(r);
}

void TXHTTPRequest::failWithError(const base::Error& theError) {
    std::lock_guard guard(s_->lock);
    State& s = *s_;
    s.lifecycle.enter(State::Phase::Ended);
    int code = static_cast<int>(theError.code());
    bool ours = theError.domain() == TXHTTPRequestErrorDomain;
    if (!(ours && (code == 3 || code == 9)) && s.connection) {
        TXConnectionPool::shared().remove(s.connection);
        if (s.connectionCanBeReused) {
            TXConnectionPool::shared().release(s.connection, s.now() + s.persistentTimeout);
        }
        s.connection.reset();
        s.destroyReadStream();
    }
    if (isCancelled() || s.error)
        return;
    // A cache allowed to stand in for a failed network answers instead.
    if (s.cache && (s.cachePolicy & 64) && s.cache->canUseCachedDataForRequest(*this) &&
        s.useDataFromCache())
        return;
    s.error = theError;
    auto main = s.mainRequest.lock();
    if (main && s.isHeadOfMain()) {
        main->failWithError(theError);
    } else if (s.isPACFileRequest()) {
        s.reportFailure();
    } else {
        auto keep = s.self();
        s.onMain([keep] { keep->s_->reportFailure(); });
    }
    if (s.inProgress)
        markAsFinished();
}

void TXHTTPRequest::State::reportFailure() {
    reportEnd(didFail, failureBlock, &TXHTTPRequestDelegate::requestFailed);
}

void TXHTTPRequest::markAsFinished() {
    auto keep = s_->self();
    {
        std::lock_guard guard(s_->lock);
        s_->message.reset();
        s_->authentication.reset();
        s_->proxyAuthentication.reset();
        s_->stopStatusTimer();
        s_->inProgress = false;
        // The body files hold the form's fields, tokens among them: they go however
        // the request ended, also when it failed while the body was being written.
        s_->closePostBodyWriteStream();
        s_->removeTemporaryBodyFiles();
    }
    finish();
    // A synchronous caller pumping its private mode looks again now.
    if (s_->loop)
        s_->loop->post([] {});
}

void TXHTTPRequest::State::requestStarted() {
    if (error || !sendsCallbacks())
        return;
    auto keep = self();
    onMain([keep] {
        State& s = *keep->s_;
        if (auto d = s.delegate.lock(); d && s.didStart)
            s.didStart(*d, *keep);
        if (s.startedBlock)
            s.startedBlock();
        if (auto q = s.queue.lock())
            q->requestStarted(*keep);
    });
}

void TXHTTPRequest::State::requestReceivedResponseHeaders(
    const platform::net::HttpHeaders& headers) {
    if (error || !sendsCallbacks())
        return;
    auto keep = self();
    onMain([keep, headers] {
        State& s = *keep->s_;
        if (auto d = s.delegate.lock(); d && s.didReceiveHeaders)
            s.didReceiveHeaders(*d, *keep, headers);
        if (s.headersBlock)
            s.headersBlock(headers);
        if (auto q = s.queue.lock())
            q->didReceiveResponseHeaders(*keep, headers);
    });
}

// ---- cancellation -----------------------------------------------------------

void TXHTTPRequest::cancel() {
    std::unique_lock guard(s_->lock);
    if (s_->loop && s_->inProgress) {
        s_->postToLoop([](State& s) { s.cancelOnRequestThread(); });
        return;
    }
    s_->cancelOnRequestThread();
}

void TXHTTPRequest::clearDelegatesAndCancel() {
    {
        std::lock_guard guard(s_->lock);
        State& s = *s_;
        s.delegate.reset();
        s.queue.reset();
        s.uploadProgress.reset();
        s.downloadProgress.reset();
        s.startedBlock = s.completionBlock = s.failureBlock = nullptr;
        s.authBlock = s.proxyAuthBlock = s.redirectedBlock = nullptr;
        s.headersBlock = nullptr;
        s.bytesReceivedBlock = s.bytesSentBlock = nullptr;
        s.downloadSizeBlock = s.uploadSizeBlock = nullptr;
        s.dataBlock = nullptr;
    }
    cancel();
}

void TXHTTPRequest::State::cancelOnRequestThread() {
    // A request waiting for its receiver's answer is complete but still open.
    if (isComplete() && !lifecycle.awaitsCredentials())
        return;
    r.failWithError(TXMakeError(TXErrorCode::RequestCancelled, "The request was cancelled"));
    lifecycle.enter(Phase::Ended);
    cancelLoad();
    lifecycle.enter(Phase::Cancelled);
    endQuestion();
    r.base::Operation::cancel();
}

void TXHTTPRequest::State::cancelLoad() {
    if (pacRequest) {
        pacRequest->clearDelegatesAndCancel();
        pacRequest.reset();
    }
    destroyReadStream();
    if (!isComplete() || !downloadComplete) {
        if (downloadPath.empty())
            rawResponseData.clear();
    }
    closeDownloadFiles();
    if (!downloadComplete) {
        removeTemporaryDownloadFiles();
    }
    if (authenticationNeeded == AuthenticationState::None && !lifecycle.isRetrying()) {
        removeTemporaryBodyFiles();
    }
    stopStatusTimer();
}

void TXHTTPRequest::State::destroyReadStream() {
    if (!stream)
        return;
    stream->setClient(nullptr);
    if (connectionCanBeReused && connection && connection->stream == stream) {
        // Left open in its record for the next request to the same server.
        unscheduleReadStream();
    } else {
        unscheduleReadStream();
        stream->close();
        if (connection && connection->stream == stream)
            connection->stream.reset();
    }
    stream.reset();
}

// ---- class state ------------------------------------------------------------

double TXHTTPRequest::defaultTimeOutSeconds() {
    std::lock_guard guard(classLock);
    return gDefaultTimeOut;
}

void TXHTTPRequest::setDefaultTimeOutSeconds(double seconds) {
    std::lock_guard guard(classLock);
    gDefaultTimeOut = seconds;
}

std::shared_ptr<base::OperationQueue> TXHTTPRequest::sharedQueue() {
    static std::shared_ptr<base::OperationQueue> queue =
        base::OperationQueue::create("TXHTTPRequest shared queue", 4);
    return queue;
}

base::RunLoop& TXHTTPRequest::threadForRequest(const TXHTTPRequest&) {
    return TXNetworkThread::runLoop();
}

void TXHTTPRequest::setDefaultCache(std::shared_ptr<TXCacheDelegate> cache) {
    std::lock_guard guard(classLock);
    gDefaultCache = std::move(cache);
}

std::shared_ptr<TXCacheDelegate> TXHTTPRequest::defaultCache() {
    std::lock_guard guard(classLock);
    return gDefaultCache;
}

bool TXHTTPRequest::isNetworkInUse() {
    return TXConnectionPool::shared().runningRequestCount() > 0;
}

// This platform shows no network activity indicator.
void TXHTTPRequest::setShouldUpdateNetworkActivityIndicator(bool) {}
