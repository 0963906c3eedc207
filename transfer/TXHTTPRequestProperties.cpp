// Plain accessors of TXHTTPRequest; each takes the request's lock.
#include "transfer/TXHTTPRequestState.h"

#define TX_UNWRAP(...) __VA_ARGS__
#define TX_PROPERTY(Type, Param, getter, setter, field) \
    TX_UNWRAP Type TXHTTPRequest::getter() const {      \
        std::lock_guard guard(s_->lock);                \
        return s_->field;                               \
    }                                                   \
    void TXHTTPRequest::setter(TX_UNWRAP Param value) { \
        std::lock_guard guard(s_->lock);                \
        s_->field = value;                              \
    }

#define TX_GETTER(Type, getter, field)   \
    Type TXHTTPRequest::getter() const { \
        std::lock_guard guard(s_->lock); \
        return s_->field;                \
    }

TX_PROPERTY((base::RunLoopMode), (const base::RunLoopMode&), runLoopMode, setRunLoopMode, mode)
TX_PROPERTY((double), (double), timeOutSeconds, setTimeOutSeconds, timeOutSeconds)
TX_PROPERTY((int), (int), numberOfTimesToRetryOnTimeout, setNumberOfTimesToRetryOnTimeout,
            retriesOnTimeout)
TX_PROPERTY((bool), (bool), shouldAttemptPersistentConnection, setShouldAttemptPersistentConnection,
            persistent)
TX_PROPERTY((double), (double), persistentConnectionTimeoutSeconds,
            setPersistentConnectionTimeoutSeconds, persistentTimeout)
TX_PROPERTY((bool), (bool), shouldPresentCredentialsBeforeChallenge,
            setShouldPresentCredentialsBeforeChallenge, credentialsBeforeChallenge)
TX_PROPERTY((bool), (bool), shouldRedirect, setShouldRedirect, shouldRedirect)
TX_PROPERTY((bool), (bool), shouldUseRFC2616RedirectBehaviour, setShouldUseRFC2616RedirectBehaviour,
            rfc2616Redirects)
TX_PROPERTY((bool), (bool), showAccurateProgress, setShowAccurateProgress, accurateProgress)
TX_PROPERTY((bool), (bool), shouldResetDownloadProgress, setShouldResetDownloadProgress,
            resetDownloadProgress)
TX_PROPERTY((bool), (bool), shouldResetUploadProgress, setShouldResetUploadProgress,
            resetUploadProgress)
TX_PROPERTY((bool), (bool), allowCompressedResponse, setAllowCompressedResponse,
            allowCompressedResponse)
TX_PROPERTY((bool), (bool), shouldWaitToInflateCompressedResponses,
            setShouldWaitToInflateCompressedResponses, waitToInflate)
TX_PROPERTY((uint64_t), (uint64_t), maxResponseDataLength, setMaxResponseDataLength,
            maxResponseDataLength)
TX_PROPERTY((std::string), (const std::string&), defaultResponseEncoding,
            setDefaultResponseEncoding, defaultEncoding)
TX_PROPERTY((bool), (bool), shouldPresentAuthenticationDialog, setShouldPresentAuthenticationDialog,
            authDialog)
TX_PROPERTY((bool), (bool), shouldPresentProxyAuthenticationDialog,
            setShouldPresentProxyAuthenticationDialog, proxyAuthDialog)
TX_PROPERTY((bool), (bool), useSessionPersistence, setUseSessionPersistence, sessionPersistence)
TX_PROPERTY((bool), (bool), useCookiePersistence, setUseCookiePersistence, cookiePersistence)
TX_PROPERTY((bool), (bool), useKeychainPersistence, setUseKeychainPersistence, keychainPersistence)
TX_PROPERTY((bool), (bool), validatesSecureCertificate, setValidatesSecureCertificate,
            validatesCertificate)
TX_PROPERTY((std::string), (const std::string&), certificateAuthorityFile,
            setCertificateAuthorityFile, caFile)
TX_PROPERTY((std::shared_ptr<const platform::net::ClientIdentity>),
            (std::shared_ptr<const platform::net::ClientIdentity>), clientCertificateIdentity,
            setClientCertificateIdentity, identity)
TX_PROPERTY((bool), (bool), useHTTPVersionOne, setUseHTTPVersionOne, http10)
TX_PROPERTY((bool), (bool), allowResumeForFileDownloads, setAllowResumeForFileDownloads,
            allowResume)
TX_PROPERTY((std::string), (const std::string&), downloadDestinationPath,
            setDownloadDestinationPath, downloadPath)
TX_PROPERTY((std::string), (const std::string&), temporaryFileDownloadPath,
            setTemporaryFileDownloadPath, temporaryDownloadPath)
TX_PROPERTY((std::string), (const std::string&), userAgentString, setUserAgentString, userAgent)
TX_PROPERTY((std::shared_ptr<TXCacheDelegate>), (std::shared_ptr<TXCacheDelegate>), downloadCache,
            setDownloadCache, cache)
TX_PROPERTY((int), (int), cachePolicy, setCachePolicy, cachePolicy)
TX_PROPERTY((int), (int), cacheStoragePolicy, setCacheStoragePolicy, cacheStoragePolicy)
TX_PROPERTY((double), (double), secondsToCache, setSecondsToCache, secondsToCache)
TX_PROPERTY((std::vector<platform::net::Cookie>), (std::vector<platform::net::Cookie>),
            requestCookies, setRequestCookies, requestCookies)
TX_PROPERTY((std::string), (const std::string&), postBodyFilePath, setPostBodyFilePath,
            postBodyFilePath)
TX_PROPERTY((bool), (bool), shouldStreamPostDataFromDisk, setShouldStreamPostDataFromDisk,
            streamFromDisk)
TX_PROPERTY((bool), (bool), shouldCompressRequestBody, setShouldCompressRequestBody, compressBody)
TX_PROPERTY((bool), (bool), didCreateTemporaryPostDataFile, setDidCreateTemporaryPostDataFile,
            didCreateTemporaryPostDataFile)
TX_PROPERTY((uint64_t), (uint64_t), postLength, setPostLength, postLength)
TX_PROPERTY((std::string), (const std::string&), username, setUsername, username)
TX_PROPERTY((std::string), (const std::string&), password, setPassword, password)
TX_PROPERTY((std::string), (const std::string&), domain, setDomain, domain)
TX_PROPERTY((std::string), (const std::string&), authenticationScheme, setAuthenticationScheme,
            authScheme)
TX_PROPERTY((std::string), (const std::string&), proxyHost, setProxyHost, proxyHost)
TX_PROPERTY((int), (int), proxyPort, setProxyPort, proxyPort)
TX_PROPERTY((TXHTTPRequest::ProxyType), (TXHTTPRequest::ProxyType), proxyType, setProxyType,
            proxyType)
TX_PROPERTY((std::string), (const std::string&), proxyUsername, setProxyUsername, proxyUsername)
TX_PROPERTY((std::string), (const std::string&), proxyPassword, setProxyPassword, proxyPassword)
TX_PROPERTY((std::string), (const std::string&), proxyDomain, setProxyDomain, proxyDomain)
TX_PROPERTY((std::optional<base::Url>), (const std::optional<base::Url>&), PACurl, setPACurl,
            pacUrl)
TX_PROPERTY((base::Dictionary), (base::Dictionary), userInfo, setUserInfo, userInfo)
TX_PROPERTY((int64_t), (int64_t), tag, setTag, tag)
TX_GETTER(std::string, authenticationRealm, authRealm)
TX_GETTER(std::string, proxyAuthenticationScheme, proxyAuthScheme)
TX_GETTER(std::string, proxyAuthenticationRealm, proxyAuthRealm)
TX_GETTER(bool, haveBuiltPostBody, haveBuiltPostBody)
TX_GETTER(int, responseStatusCode, statusCode)
TX_GETTER(std::string, responseStatusMessage, statusMessage)
TX_GETTER(std::vector<platform::net::Cookie>, responseCookies, responseCookies)
TX_GETTER(base::Data, rawResponseData, rawResponseData)
TX_GETTER(std::string, responseEncoding, responseEncoding)
TX_GETTER(uint64_t, contentLength, contentLength)
TX_GETTER(uint64_t, totalBytesRead, totalBytesRead)
TX_GETTER(uint64_t, totalBytesSent, totalBytesSent)
TX_GETTER(uint64_t, partialDownloadSize, partialDownloadSize)
TX_GETTER(std::optional<base::Error>, error, error)
TX_GETTER(bool, complete, isComplete())
TX_GETTER(bool, inProgress, inProgress)
TX_GETTER(bool, downloadComplete, downloadComplete)
TX_GETTER(bool, needsRedirect, needsRedirect)
TX_GETTER(int, redirectCount, redirectCount)
TX_GETTER(std::optional<base::Url>, redirectURL, redirectURL)
TX_GETTER(std::optional<base::Url>, originalURL, originalURL)
TX_GETTER(int, retryCount, retryCount)
TX_GETTER(TXHTTPRequest::AuthenticationState, authenticationNeeded, authenticationNeeded)
TX_GETTER(int, authenticationRetryCount, authenticationRetryCount)
TX_GETTER(int, proxyAuthenticationRetryCount, proxyAuthenticationRetryCount)
TX_GETTER(bool, didUseCachedResponse, didUseCachedResponse)
TX_GETTER(bool, connectionCanBeReused, connectionCanBeReused)
TX_GETTER(uint64_t, connectionID, connectionId)
TX_GETTER(uint64_t, requestID, requestId)
TX_GETTER(bool, isSynchronous, synchronous)
TX_GETTER(bool, isPACFileRequest, isPACFileRequest())
TX_GETTER(bool, willRetryRequest, lifecycle.isRetrying())
TX_GETTER(bool, haveBuiltRequestHeaders, haveBuiltRequestHeaders)

// ---- accessors with rules of their own ----

std::optional<base::Url> TXHTTPRequest::url() const {
    std::lock_guard guard(s_->lock);
    return s_->url;
}

// A new address invalidates what was built or learnt for the old one.
void TXHTTPRequest::setURL(const std::optional<base::Url>& url) {
    std::lock_guard guard(s_->lock);
    if (url == s_->url)
        return;
    s_->url = url;
    s_->authentication.reset();
    s_->proxyAuthentication.reset();
    s_->message.reset();
    s_->redirectURL.reset();
}

std::string TXHTTPRequest::requestMethod() const {
    std::lock_guard guard(s_->lock);
    return s_->method;
}

// Requests with bodies do not share connections: a server that drops a kept-alive
// connection must not make us send a body twice.
void TXHTTPRequest::setRequestMethod(const std::string& method) {
    std::lock_guard guard(s_->lock);
    if (method == s_->method)
        return;
    s_->method = method;
    if (method == "POST" || method == "PUT" || !s_->postBody.empty() ||
        !s_->postBodyFilePath.empty()) {
        s_->persistent = false;
    }
}

void TXHTTPRequest::addRequestHeader(const std::string& name, const std::string& value) {
    std::lock_guard guard(s_->lock);
    if (platform::net::HttpHeaders::equalsIgnoringCase(name, "Authorization"))
        s_->engineAddedAuthorization = false;
    s_->requestHeaders.set(name, value);
}

const platform::net::HttpHeaders& TXHTTPRequest::requestHeaders() const {
    std::lock_guard guard(s_->lock);
    return s_->requestHeaders;
}

void TXHTTPRequest::setRequestHeaders(const platform::net::HttpHeaders& headers) {
    std::lock_guard guard(s_->lock);
    s_->requestHeaders = headers;
    s_->engineAddedAuthorization = false;
}

const base::Data& TXHTTPRequest::postBody() const {
    std::lock_guard guard(s_->lock);
    return s_->postBody;
}

void TXHTTPRequest::setPostBody(base::Data body) {
    std::lock_guard guard(s_->lock);
    s_->postBody = std::move(body);
}

platform::net::HttpHeaders TXHTTPRequest::responseHeaders() const {
    std::lock_guard guard(s_->lock);
    return s_->responseHeaders.value_or(platform::net::HttpHeaders());
}

std::shared_ptr<TXHTTPRequest> TXHTTPRequest::mainRequest() const {
    std::lock_guard guard(s_->lock);
    return s_->mainRequest.lock();
}

void TXHTTPRequest::setPostBodyWasBuilt(bool built) {
    std::lock_guard guard(s_->lock);
    s_->haveBuiltPostBody = built;
}

void TXHTTPRequest::setHaveBuiltRequestHeaders(bool built) {
    std::lock_guard guard(s_->lock);
    s_->haveBuiltRequestHeaders = built;
}

std::recursive_mutex& TXHTTPRequest::cancelledLock() const {
    return s_->lock;
}

// ---- receivers ----

std::shared_ptr<TXHTTPRequestDelegate> TXHTTPRequest::delegate() const {
    std::lock_guard guard(s_->lock);
    return s_->delegate.lock();
}

void TXHTTPRequest::setDelegate(const std::shared_ptr<TXHTTPRequestDelegate>& delegate) {
    std::lock_guard guard(s_->lock);
    s_->delegate = delegate;
}

std::shared_ptr<TXHTTPRequestDelegate> TXHTTPRequest::queue() const {
    std::lock_guard guard(s_->lock);
    return s_->queue.lock();
}

void TXHTTPRequest::setQueue(const std::shared_ptr<TXHTTPRequestDelegate>& queue) {
    std::lock_guard guard(s_->lock);
    s_->queue = queue;
}

std::shared_ptr<TXProgressDelegate> TXHTTPRequest::uploadProgressDelegate() const {
    std::lock_guard guard(s_->lock);
    return s_->uploadProgress.lock();
}

void TXHTTPRequest::setUploadProgressDelegate(const std::shared_ptr<TXProgressDelegate>& receiver) {
    std::lock_guard guard(s_->lock);
    s_->uploadProgress = receiver;
    std::weak_ptr<TXProgressDelegate> weak = receiver;
    s_->onMain([weak] {
        if (auto r = weak.lock())
            r->setMaxValue(1.0);
    });
}

std::shared_ptr<TXProgressDelegate> TXHTTPRequest::downloadProgressDelegate() const {
    std::lock_guard guard(s_->lock);
    return s_->downloadProgress.lock();
}

void TXHTTPRequest::setDownloadProgressDelegate(
    const std::shared_ptr<TXProgressDelegate>& receiver) {
    std::lock_guard guard(s_->lock);
    s_->downloadProgress = receiver;
    std::weak_ptr<TXProgressDelegate> weak = receiver;
    s_->onMain([weak] {
        if (auto r = weak.lock())
            r->setMaxValue(1.0);
    });
}

void TXHTTPRequest::setDidStartSelector(TXRequestSelector selector) {
    std::lock_guard guard(s_->lock);
    s_->didStart = std::move(selector);
}

void TXHTTPRequest::setDidReceiveResponseHeadersSelector(TXHeadersSelector selector) {
    std::lock_guard guard(s_->lock);
    s_->didReceiveHeaders = std::move(selector);
}

void TXHTTPRequest::setWillRedirectSelector(TXRedirectSelector selector) {
    std::lock_guard guard(s_->lock);
    s_->willRedirectSel = std::move(selector);
    s_->customWillRedirect = true;
}

void TXHTTPRequest::setDidFinishSelector(TXRequestSelector selector) {
    std::lock_guard guard(s_->lock);
    s_->didFinish = std::move(selector);
}

void TXHTTPRequest::setDidFailSelector(TXRequestSelector selector) {
    std::lock_guard guard(s_->lock);
    s_->didFail = std::move(selector);
}

void TXHTTPRequest::setDidReceiveDataSelector(TXDataSelector selector) {
    std::lock_guard guard(s_->lock);
    s_->didReceiveData = std::move(selector);
    s_->customDidReceiveData = true;
}

#define TX_BLOCK(setter, Type, field)        \
    void TXHTTPRequest::setter(Type block) { \
        std::lock_guard guard(s_->lock);     \
        s_->field = std::move(block);        \
    }

TX_BLOCK(setStartedBlock, BasicBlock, startedBlock)
TX_BLOCK(setHeadersReceivedBlock, HeadersBlock, headersBlock)
TX_BLOCK(setCompletionBlock, BasicBlock, completionBlock)
TX_BLOCK(setFailedBlock, BasicBlock, failureBlock)
TX_BLOCK(setBytesReceivedBlock, ProgressBlock, bytesReceivedBlock)
TX_BLOCK(setBytesSentBlock, ProgressBlock, bytesSentBlock)
TX_BLOCK(setDownloadSizeIncrementedBlock, SizeBlock, downloadSizeBlock)
TX_BLOCK(setUploadSizeIncrementedBlock, SizeBlock, uploadSizeBlock)
TX_BLOCK(setDataReceivedBlock, DataBlock, dataBlock)
TX_BLOCK(setAuthenticationNeededBlock, BasicBlock, authBlock)
TX_BLOCK(setProxyAuthenticationNeededBlock, BasicBlock, proxyAuthBlock)
TX_BLOCK(setRequestRedirectedBlock, BasicBlock, redirectedBlock)
