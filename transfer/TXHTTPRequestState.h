#pragma once
// The private state of TXHTTPRequest and the transfer machinery that works on it.
// Only the TXHTTPRequest*.cpp files include this. Everything below runs on the
// request's own run loop (the network thread, or the caller's thread for a
// synchronous request) under `lock`, unless a comment says otherwise.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/Cookie.h"
#include "platform/net/HttpAuthentication.h"
#include "platform/net/HttpHeaders.h"
#include "platform/net/HttpReadStream.h"
#include "platform/net/HttpRequestMessage.h"
#include "platform/net/TlsSettings.h"
#include "transfer/TXConnectionPool.h"
#include "transfer/TXCredentialQuestions.h"
#include "transfer/TXDataDecompressor.h"
#include "transfer/TXHTTPRequest.h"
#include "transfer/TXRequestLifecycle.h"

// How a request reaches its server and who it is there: what a HEAD companion takes
// over from its main request (a copy takes it too).
struct TXHTTPRequestAccess {
    std::vector<platform::net::Cookie> requestCookies;
    bool cookiePersistence = true;
    bool keychainPersistence = false;
    bool sessionPersistence = true;
    bool allowCompressedResponse = true;
    std::string username, password, domain, authScheme;
    std::string proxyHost;
    int proxyPort = 0;
    TXHTTPRequest::ProxyType proxyType = TXHTTPRequest::ProxyType::Http;
    std::string proxyUsername, proxyPassword, proxyDomain;
    bool authDialog = false;
    bool proxyAuthDialog = true;
    double timeOutSeconds = 10.0;
    bool http10 = false;
    bool validatesCertificate = true;
    std::string caFile;
    std::shared_ptr<const platform::net::ClientIdentity> identity;
    std::optional<base::Url> pacUrl;
    bool credentialsBeforeChallenge = true;
    int retriesOnTimeout = 0;
    bool rfc2616Redirects = false;
    bool persistent = true;
    double persistentTimeout = 60.0;
};

// Everything copy() takes over, copied whole; the rest of a request (its address, run
// loop mode, cache, blocks, queue and the state of its transfer) stays behind. The
// body travels as built: its bytes or file, its length and whether it was built.
struct TXHTTPRequestSettings : TXHTTPRequestAccess {
    std::string method = "GET";
    platform::net::HttpHeaders requestHeaders;
    // "Authorization" was written by the engine from credentials, not by the caller.
    bool engineAddedAuthorization = false;
    base::Data postBody;
    std::string postBodyFilePath;
    struct FileRange {
        uint64_t offset = 0, length = 0;
    };
    std::optional<FileRange> postBodyFileRange;  // of postBodyFilePath, sent as it stands
    bool streamFromDisk = false;
    bool compressBody = false;
    uint64_t postLength = 0;
    bool haveBuiltPostBody = false;
    std::string downloadPath;
    std::string temporaryDownloadPath;
    bool allowResume = false;
    bool accurateProgress = true;
    bool resetDownloadProgress = true;
    bool resetUploadProgress = true;
    std::string defaultEncoding = "ISO-8859-1";
    bool shouldRedirect = true;
    std::string userAgent;
    // The delegate and its start and end selectors travel; the other selectors, the
    // blocks and the queue do not.
    std::weak_ptr<TXHTTPRequestDelegate> delegate;
    TXRequestSelector didStart, didFinish, didFail;
    std::weak_ptr<TXProgressDelegate> uploadProgress, downloadProgress;
    base::Dictionary userInfo;
    int64_t tag = 0;
};

struct TXHTTPRequest::State : TXHTTPRequestSettings {
    explicit State(TXHTTPRequest& owner) : r(owner) {
        didStart = [](TXHTTPRequestDelegate& d, TXHTTPRequest& q) { d.requestStarted(q); };
        didFinish = [](TXHTTPRequestDelegate& d, TXHTTPRequest& q) { d.requestFinished(q); };
        didFail = [](TXHTTPRequestDelegate& d, TXHTTPRequest& q) { d.requestFailed(q); };
        didReceiveHeaders = [](TXHTTPRequestDelegate& d, TXHTTPRequest& q,
                               const platform::net::HttpHeaders& h) {
            d.didReceiveResponseHeaders(q, h);
        };
        willRedirectSel = [](TXHTTPRequestDelegate& d, TXHTTPRequest& q, const base::Url& u) {
            d.willRedirectToURL(q, u);
        };
        didReceiveData = [](TXHTTPRequestDelegate& d, TXHTTPRequest& q, const base::Data& data) {
            d.didReceiveData(q, data);
        };
    }

    TXHTTPRequest& r;
    mutable std::recursive_mutex lock;

    // ---- configuration that stays with this request ----
    // (What a copy takes over lives in TXHTTPRequestSettings, the base of this struct.)
    std::optional<base::Url> url;
    base::RunLoopMode mode = base::kDefaultRunLoopMode;
    bool waitToInflate = true;
    uint64_t maxResponseDataLength = UINT64_MAX;
    std::string temporaryInflatedPath;
    std::shared_ptr<TXCacheDelegate> cache;
    int cachePolicy = 0;
    int cacheStoragePolicy = 0;
    double secondsToCache = 0;

    // ---- body ----
    int postBodyWriteFd = -1;
    bool didCreateTemporaryPostDataFile = false;
    base::Data compressedPostBody;
    std::string compressedPostBodyFilePath;
    bool haveBuiltRequestHeaders = false;

    // ---- credentials ----
    std::string authRealm, proxyAuthScheme, proxyAuthRealm;
    std::optional<platform::net::HttpCredentials> requestCredentials, proxyCredentials;
    std::shared_ptr<platform::net::HttpAuthentication> authentication, proxyAuthentication;
    int authenticationRetryCount = 0;
    int proxyAuthenticationRetryCount = 0;
    std::shared_ptr<TXHTTPRequest> pacRequest;

    // ---- receivers ----
    std::weak_ptr<TXHTTPRequestDelegate> queue;
    TXHeadersSelector didReceiveHeaders;
    TXRedirectSelector willRedirectSel;
    TXDataSelector didReceiveData;
    bool customWillRedirect = false, customDidReceiveData = false;
    BasicBlock startedBlock, completionBlock, failureBlock, authBlock, proxyAuthBlock,
        redirectedBlock;
    HeadersBlock headersBlock;
    ProgressBlock bytesReceivedBlock, bytesSentBlock;
    SizeBlock downloadSizeBlock, uploadSizeBlock;
    DataBlock dataBlock;
    // A PAC file request reports here, on its own thread, instead of on the main thread.
    std::function<void(TXHTTPRequest&)> pacDone;

    // ---- results and transfer state ----
    int statusCode = 0;
    std::string statusMessage;
    std::optional<platform::net::HttpHeaders> responseHeaders;
    std::vector<platform::net::Cookie> responseCookies;
    base::Data rawResponseData;
    std::string responseEncoding = "ISO-8859-1";
    uint64_t contentLength = 0, partialDownloadSize = 0;
    uint64_t totalBytesRead = 0, lastBytesRead = 0, totalBytesSent = 0, lastBytesSent = 0;
    // What the send buffer took of the body at once; none until it is known.
    std::optional<uint64_t> uploadBufferSize;
    int64_t uploadReported = 0;  // the sum of this transfer's upload amounts
    bool updatedProgress = false;
    std::optional<base::Error> error;
    std::optional<base::Error> fileError;
    using Phase = TXRequestLifecycle::Phase;
    TXRequestLifecycle lifecycle;
    bool isComplete() const { return lifecycle.isComplete(); }
    bool isCancelled() const { return lifecycle.isCancelled(); }
    // The operation holds its queue slot: from its start until markAsFinished().
    bool inProgress = false;
    // The answer was read to its end; stays true when the request fails afterwards.
    bool downloadComplete = false;
    bool needsRedirect = false;
    int redirectCount = 0;
    std::optional<base::Url> redirectURL, originalURL;
    int retryCount = 0;
    AuthenticationState authenticationNeeded = AuthenticationState::None;
    bool didUseCachedResponse = false;
    bool connectionCanBeReused = false;
    std::shared_ptr<TXConnectionPool::Record> connection;
    uint64_t connectionId = 0;
    uint64_t requestId = 0;
    std::weak_ptr<TXHTTPRequest> mainRequest;
    // A HEAD companion answers for its main request and sends no callbacks of its own;
    // a PAC file request reports only to whoever waits for it, on its own thread.
    enum class Role : uint8_t { Plain, HeadOfMain, PacFile };
    Role role = Role::Plain;
    bool isHeadOfMain() const { return role == Role::HeadOfMain; }
    bool isPACFileRequest() const { return role == Role::PacFile; }
    bool synchronous = false;
    bool rangeSent = false;

    std::optional<platform::net::HttpRequestMessage> message;
    std::shared_ptr<platform::net::HttpReadStream> stream;
    bool streamScheduled = false;
    base::RunLoop* loop = nullptr;
    base::RunLoop::Timer statusTimer;
    std::optional<double> lastActivityTime;
    std::unique_ptr<TXDataDecompressor> decompressor;
    int downloadFd = -1, inflatedDownloadFd = -1;

    // ---- helpers (TXHTTPRequest.cpp) ----
    std::shared_ptr<TXHTTPRequest> self() const;
    double now() const;
    void onMain(std::function<void()> task) const;
    void guarded(const char* where, const std::function<void()>& work);
    void runMain();
    bool consultCache();
    void startRequest();
    void handleNetworkEvent(platform::net::HttpReadStream::Event event);
    void checkRequestStatus();
    bool shouldTimeOut() const;
    void startStatusTimer();
    void stopStatusTimer();
    void cancelOnRequestThread();
    void cancelLoad();
    void destroyReadStream();
    void reportFinished();
    void reportFailure();
    void reportEnd(const TXRequestSelector& selector, const BasicBlock& block,
                   void (TXHTTPRequestDelegate::*queueCall)(TXHTTPRequest&));
    void requestStarted();
    void requestReceivedResponseHeaders(const platform::net::HttpHeaders& headers);
    bool sendsCallbacks() const { return !isHeadOfMain(); }
    void postToLoop(std::function<void(State&)> work);

    // ---- body (TXHTTPRequestBody.cpp) ----
    std::shared_ptr<platform::net::BodyStream> makeBodyStream();
    void removeTemporaryBodyFiles();
    bool closePostBodyWriteStream();

    // ---- response (TXHTTPRequestResponse.cpp) ----
    void applyCookieHeader();
    void readResponseHeaders();
    void parseStringEncodingFromHeaders();
    void parseResponseCookies();
    // Answers from the cache; false when it holds no headers or data for the URL.
    bool useDataFromCache();
    void handleBytesAvailable();
    void handleStreamComplete();
    void handleStreamError();
    bool willRedirect();
    void performRedirect();
    void followRedirectAfterEnd();
    void updatePartialDownloadSize();
    void writeDownloadBytes(const uint8_t* bytes, size_t n, const base::Data* inflated);
    void finishDownloadFile();
    void closeDownloadFiles();
    void removeTemporaryDownloadFiles();

    // ---- connections, throttle, progress (TXHTTPRequestConnection.cpp) ----
    void chooseConnection(platform::net::HttpReadStream::Options& options);
    void releaseConnection();
    void evaluateKeepAlive(const platform::net::HttpResponseHead& head);
    bool retryUsingNewConnection();
    void performThrottling();
    void scheduleReadStream();
    void unscheduleReadStream();
    void resetProgressIndicators();
    void updateProgressIndicators();
    void updateUploadProgress();
    void updateDownloadProgress();
    void incrementUploadSizeBy(int64_t amount);
    void incrementDownloadSizeBy(int64_t amount);
    void removeUploadProgressSoFar();
    void sendProgress(bool upload, int64_t amount, double fraction, uint64_t total);

    // ---- authentication and proxies (TXHTTPRequestAuth.cpp) ----
    void applyAuthorizationHeader();
    bool sameOriginAsOriginal() const;
    void attemptToApplyCredentialsAndResume(bool proxy);
    bool applyCredentials(bool proxy, const platform::net::HttpCredentials& credentials);
    std::optional<platform::net::HttpCredentials> findCredentials(bool proxy) const;
    bool askDelegateForCredentials(bool proxy);
    // Credentials the session store holds for the server or proxy now challenging us.
    std::optional<platform::net::HttpCredentials> sessionCredentials(bool proxy) const;
    // Takes credentials the server (or proxy) now challenging us refused out of the
    // session store, for its realm only.
    void forgetSessionCredentials(bool proxy, const platform::net::HttpCredentials& refused);
    TXCredentialQuestions::Subject questionSubject(bool proxy) const;
    // This request's question is over: the requests that waited for it look again.
    void endQuestion();
    // Another request's question, which this one waited for, is over.
    void resumeAfterQuestion();
    void restartFromSessionOrAsk(bool proxy);
    void failAuthentication();
    bool configureProxies();
    void fetchPACFile();
    void usePacScript(const std::string& script);
    void storeBasicSessionCredentials();
};
