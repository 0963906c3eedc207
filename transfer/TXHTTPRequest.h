#pragma once
// One HTTP or HTTPS request, configured before it starts and run either
// asynchronously on the process's network thread (startAsynchronous(), through
// sharedQueue()) or synchronously on the caller's thread in the private run-loop
// mode "TXHTTPRequestRunLoopMode" (startSynchronous()). It reports its start,
// headers, data, progress, redirects, end and failure to a delegate, to blocks and
// to an owning queue, always on the main thread, to receivers held weakly.
//
// Made by requestWithURL() (a shared object: the network thread, timers and queued
// callbacks refer to it). Subclasses (form bodies, S3 requests) override the
// virtual operations under "Subclass hooks".
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Error.h"
#include "base/OperationQueue.h"
#include "base/RunLoop.h"
#include "base/Url.h"
#include "base/Value.h"
#include "platform/net/HttpCredentials.h"
#include "transfer/TXCacheDelegate.h"
#include "transfer/TXHTTPRequestDelegate.h"
#include "transfer/TXHTTPRequestError.h"
#include "transfer/TXProgressDelegate.h"

namespace platform::net {
class HttpHeaders;
struct Cookie;
class ClientIdentity;
}  // namespace platform::net

inline constexpr const char* TXHTTPRequestVersion = "v1.0 2011-09-19";
inline constexpr const char* NetworkRequestErrorDomain = TXHTTPRequestErrorDomain;
inline const base::RunLoopMode TXHTTPRequestRunLoopMode = "TXHTTPRequestRunLoopMode";

// A delegate callback chosen by the caller. It runs only while the delegate exists;
// TXSelector() binds a member function of the delegate's own class.
using TXRequestSelector = std::function<void(TXHTTPRequestDelegate&, TXHTTPRequest&)>;
using TXHeadersSelector =
    std::function<void(TXHTTPRequestDelegate&, TXHTTPRequest&, const platform::net::HttpHeaders&)>;
using TXRedirectSelector =
    std::function<void(TXHTTPRequestDelegate&, TXHTTPRequest&, const base::Url&)>;
using TXDataSelector =
    std::function<void(TXHTTPRequestDelegate&, TXHTTPRequest&, const base::Data&)>;

// A delegate that is not of class T does not answer the selector.
template <class T>
TXRequestSelector TXSelector(void (T::*method)(TXHTTPRequest&)) {
    return [method](TXHTTPRequestDelegate& d, TXHTTPRequest& r) {
        if (auto* t = dynamic_cast<T*>(&d)) {
            (t->*method)(r);
        }
    };
}

class TXHTTPRequest : public base::Operation {
  public:
    using BasicBlock = std::function<void()>;
    using HeadersBlock = std::function<void(const platform::net::HttpHeaders&)>;
    using ProgressBlock = std::function<void(uint64_t amount, uint64_t total)>;
    using SizeBlock = std::function<void(int64_t amount)>;
    using DataBlock = std::function<void(const base::Data&)>;

    enum class AuthenticationState { None = 0, Server = 1, Proxy = 2 };
    enum class ProxyType { Http, Https, Socks };

    // ---- creation ----
    static std::shared_ptr<TXHTTPRequest> requestWithURL(const std::optional<base::Url>& url);
    static std::shared_ptr<TXHTTPRequest> requestWithURL(const std::optional<base::Url>& url,
                                                         std::shared_ptr<TXCacheDelegate> cache,
                                                         int cachePolicy = 0);
    ~TXHTTPRequest() override;

    // A new request of the same class with this one's configuration (not its results).
    virtual std::shared_ptr<TXHTTPRequest> copy() const;
    // A HEAD request for the same address whose length, errors and cache answers go to
    // this request; it sends no callbacks of its own.
    virtual std::shared_ptr<TXHTTPRequest> HEADRequest();

    // ---- starting and stopping ----
    void startSynchronous();
    void startAsynchronous();
    void start() override;  // the queue's entry; runs main() on the network thread
    void main() override;
    bool isAsynchronous() const override { return true; }
    void cancel() override;
    void clearDelegatesAndCancel();

    // ---- configuration ----
    std::optional<base::Url> url() const;
    void setURL(const std::optional<base::Url>& url);
    std::string requestMethod() const;
    void setRequestMethod(const std::string& method);
    base::RunLoopMode runLoopMode() const;
    void setRunLoopMode(const base::RunLoopMode& mode);
    double timeOutSeconds() const;
    void setTimeOutSeconds(double seconds);
    int numberOfTimesToRetryOnTimeout() const;
    void setNumberOfTimesToRetryOnTimeout(int n);

    bool shouldAttemptPersistentConnection() const;
    void setShouldAttemptPersistentConnection(bool on);
    double persistentConnectionTimeoutSeconds() const;
    void setPersistentConnectionTimeoutSeconds(double seconds);
    bool shouldPresentCredentialsBeforeChallenge() const;
    void setShouldPresentCredentialsBeforeChallenge(bool on);
    bool shouldRedirect() const;
    void setShouldRedirect(bool on);
    bool shouldUseRFC2616RedirectBehaviour() const;
    void setShouldUseRFC2616RedirectBehaviour(bool on);
    bool showAccurateProgress() const;
    void setShowAccurateProgress(bool on);
    bool shouldResetDownloadProgress() const;
    void setShouldResetDownloadProgress(bool on);
    bool shouldResetUploadProgress() const;
    void setShouldResetUploadProgress(bool on);
    bool allowCompressedResponse() const;
    void setAllowCompressedResponse(bool on);
    bool shouldWaitToInflateCompressedResponses() const;
    void setShouldWaitToInflateCompressedResponses(bool on);
    // A body kept in memory (inflated on the fly, or as received when inflating waits)
    // longer than this fails the request (ResponseTooLarge) and is let go; no limit
    // unless set.
    uint64_t maxResponseDataLength() const;
    void setMaxResponseDataLength(uint64_t bytes);
    // An iconv character set name; "ISO-8859-1" unless set.
    std::string defaultResponseEncoding() const;
    void setDefaultResponseEncoding(const std::string& charset);
    bool shouldPresentAuthenticationDialog() const;
    void setShouldPresentAuthenticationDialog(bool on);
    bool shouldPresentProxyAuthenticationDialog() const;
    void setShouldPresentProxyAuthenticationDialog(bool on);
    bool useSessionPersistence() const;
    void setUseSessionPersistence(bool on);
    bool useCookiePersistence() const;
    void setUseCookiePersistence(bool on);
    bool useKeychainPersistence() const;
    void setUseKeychainPersistence(bool on);
    bool validatesSecureCertificate() const;
    void setValidatesSecureCertificate(bool on);
    // Trust only this PEM bundle (tests trust their own authority this way).
    std::string certificateAuthorityFile() const;
    void setCertificateAuthorityFile(const std::string& path);
    std::shared_ptr<const platform::net::ClientIdentity> clientCertificateIdentity() const;
    void setClientCertificateIdentity(std::shared_ptr<const platform::net::ClientIdentity> id);
    bool useHTTPVersionOne() const;
    void setUseHTTPVersionOne(bool on);
    bool allowResumeForFileDownloads() const;
    void setAllowResumeForFileDownloads(bool on);
    std::string downloadDestinationPath() const;
    void setDownloadDestinationPath(const std::string& path);
    std::string temporaryFileDownloadPath() const;
    void setTemporaryFileDownloadPath(const std::string& path);
    std::string userAgentString() const;
    void setUserAgentString(const std::string& userAgent);

    std::shared_ptr<TXCacheDelegate> downloadCache() const;
    void setDownloadCache(std::shared_ptr<TXCacheDelegate> cache);
    int cachePolicy() const;
    void setCachePolicy(int policy);
    int cacheStoragePolicy() const;
    void setCacheStoragePolicy(int policy);
    double secondsToCache() const;
    void setSecondsToCache(double seconds);

    // ---- headers and cookies ----
    // Replaces a value under the same name (names compare without case); insertion
    // order is wire order.
    void addRequestHeader(const std::string& name, const std::string& value);
    const platform::net::HttpHeaders& requestHeaders() const;
    void setRequestHeaders(const platform::net::HttpHeaders& headers);
    std::vector<platform::net::Cookie> requestCookies() const;
    void setRequestCookies(std::vector<platform::net::Cookie> cookies);

    // ---- body ----
    void setupPostBody();
    void appendPostData(const base::Data& data);
    void appendPostData(std::string_view data);
    // False when the file cannot be opened or read (the request then fails).
    bool appendPostDataFromFile(const std::string& path);
    const base::Data& postBody() const;
    void setPostBody(base::Data body);
    std::string postBodyFilePath() const;
    void setPostBodyFilePath(const std::string& path);
    // The body is `length` bytes of the file at `path` from `offset`, read from there
    // as it is sent (the file is the caller's and stays), never compressed. The
    // request fails when the file is shorter.
    void setPostBodyFileRange(const std::string& path, uint64_t offset, uint64_t length);
    bool shouldStreamPostDataFromDisk() const;
    void setShouldStreamPostDataFromDisk(bool on);
    bool shouldCompressRequestBody() const;
    void setShouldCompressRequestBody(bool on);
    bool didCreateTemporaryPostDataFile() const;
    void setDidCreateTemporaryPostDataFile(bool on);
    uint64_t postLength() const;
    void setPostLength(uint64_t length);
    bool haveBuiltPostBody() const;
    bool removeTemporaryUploadFile();
    bool removeTemporaryCompressedUploadFile();

    // ---- credentials and proxies ----
    std::string username() const;
    void setUsername(const std::string& user);
    std::string password() const;
    void setPassword(const std::string& password);
    std::string domain() const;
    void setDomain(const std::string& domain);
    // "Basic", "Digest", "NTLM".
    std::string authenticationScheme() const;
    void setAuthenticationScheme(const std::string& scheme);
    std::string authenticationRealm() const;
    std::string proxyHost() const;
    void setProxyHost(const std::string& host);
    int proxyPort() const;
    void setProxyPort(int port);
    ProxyType proxyType() const;
    void setProxyType(ProxyType type);
    std::string proxyUsername() const;
    void setProxyUsername(const std::string& user);
    std::string proxyPassword() const;
    void setProxyPassword(const std::string& password);
    std::string proxyDomain() const;
    void setProxyDomain(const std::string& domain);
    std::string proxyAuthenticationScheme() const;
    std::string proxyAuthenticationRealm() const;
    std::optional<base::Url> PACurl() const;
    void setPACurl(const std::optional<base::Url>& url);
    void addBasicAuthenticationHeaderWithUsername(const std::string& user,
                                                  const std::string& password);
    // For a receiver that was asked for credentials.
    void retryUsingSuppliedCredentials();
    void cancelAuthentication();

    // Credentials kept for good in the user's keychain file, per protection space
    // (scheme, host, port and realm; a proxy's host, port and realm). Requests with
    // useKeychainPersistence() save what worked and look there when they have none.
    static bool saveCredentials(const platform::net::HttpCredentials& credentials,
                                const std::string& host, int port, const std::string& protocol,
                                const std::string& realm);
    static bool saveCredentials(const platform::net::HttpCredentials& credentials,
                                const std::string& proxy, int port, const std::string& realm);
    static std::optional<platform::net::HttpCredentials> savedCredentialsForHost(
        const std::string& host, int port, const std::string& protocol, const std::string& realm);
    static std::optional<platform::net::HttpCredentials> savedCredentialsForProxy(
        const std::string& proxy, int port, const std::string& protocol, const std::string& realm);
    static bool removeCredentialsForHost(const std::string& host, int port,
                                         const std::string& protocol, const std::string& realm);
    static bool removeCredentialsForProxy(const std::string& proxy, int port,
                                          const std::string& realm);
    void saveCredentialsToKeychain(const platform::net::HttpCredentials& credentials);
    void saveProxyCredentialsToKeychain(const platform::net::HttpCredentials& credentials);

    // ---- receivers ----
    std::shared_ptr<TXHTTPRequestDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<TXHTTPRequestDelegate>& delegate);
    // The owning queue; a queue that is also a TXProgressDelegate gets progress too.
    std::shared_ptr<TXHTTPRequestDelegate> queue() const;
    void setQueue(const std::shared_ptr<TXHTTPRequestDelegate>& queue);
    std::shared_ptr<TXProgressDelegate> uploadProgressDelegate() const;
    void setUploadProgressDelegate(const std::shared_ptr<TXProgressDelegate>& receiver);
    std::shared_ptr<TXProgressDelegate> downloadProgressDelegate() const;
    void setDownloadProgressDelegate(const std::shared_ptr<TXProgressDelegate>& receiver);

    // Selectors default to the delegate interface's methods; an empty one is not sent.
    void setDidStartSelector(TXRequestSelector selector);
    void setDidReceiveResponseHeadersSelector(TXHeadersSelector selector);
    void setWillRedirectSelector(TXRedirectSelector selector);
    void setDidFinishSelector(TXRequestSelector selector);
    void setDidFailSelector(TXRequestSelector selector);
    void setDidReceiveDataSelector(TXDataSelector selector);

    void setStartedBlock(BasicBlock block);
    void setHeadersReceivedBlock(HeadersBlock block);
    void setCompletionBlock(BasicBlock block);
    void setFailedBlock(BasicBlock block);
    void setBytesReceivedBlock(ProgressBlock block);
    void setBytesSentBlock(ProgressBlock block);
    void setDownloadSizeIncrementedBlock(SizeBlock block);
    void setUploadSizeIncrementedBlock(SizeBlock block);
    void setDataReceivedBlock(DataBlock block);
    void setAuthenticationNeededBlock(BasicBlock block);
    void setProxyAuthenticationNeededBlock(BasicBlock block);
    void setRequestRedirectedBlock(BasicBlock block);

    base::Dictionary userInfo() const;
    void setUserInfo(base::Dictionary info);
    int64_t tag() const;
    void setTag(int64_t tag);

    // ---- results ----
    int responseStatusCode() const;
    std::string responseStatusMessage() const;
    platform::net::HttpHeaders responseHeaders() const;
    std::vector<platform::net::Cookie> responseCookies() const;
    // Body bytes as received (inflated already when inflating on the fly).
    base::Data rawResponseData() const;
    // The body, inflated when the response is compressed; none when inflating fails.
    std::optional<base::Data> responseData() const;
    // The body decoded with responseEncoding(); none without data or when it does
    // not decode.
    std::optional<std::string> responseString() const;
    std::string responseEncoding() const;
    bool isResponseCompressed() const;
    uint64_t contentLength() const;
    uint64_t totalBytesRead() const;
    uint64_t totalBytesSent() const;
    uint64_t partialDownloadSize() const;
    std::optional<base::Error> error() const;
    bool complete() const;
    bool inProgress() const;
    bool downloadComplete() const;
    bool needsRedirect() const;
    int redirectCount() const;
    std::optional<base::Url> redirectURL() const;
    std::optional<base::Url> originalURL() const;
    int retryCount() const;
    AuthenticationState authenticationNeeded() const;
    int authenticationRetryCount() const;
    int proxyAuthenticationRetryCount() const;
    bool didUseCachedResponse() const;
    bool connectionCanBeReused() const;
    // The pooled connection number of the last transfer; 0 without one.
    uint64_t connectionID() const;
    uint64_t requestID() const;
    std::shared_ptr<TXHTTPRequest> mainRequest() const;
    bool isSynchronous() const;
    bool isPACFileRequest() const;
    bool willRetryRequest() const;
    bool haveBuiltRequestHeaders() const;

    // For a receiver of willRedirectToURL(): follow to `url`.
    void redirectToURL(const base::Url& url);

    // ---- class operations ----
    static double defaultTimeOutSeconds();
    static void setDefaultTimeOutSeconds(double seconds);
    // None when the application's name or the system version is unknown.
    static std::optional<std::string> defaultUserAgentString();
    static void setDefaultUserAgentString(const std::optional<std::string>& userAgent);
    // The user agent for a given application and system, as defaultUserAgentString()
    // builds it from the running process.
    static std::optional<std::string> userAgentFor(
        const std::string& name, const std::string& shortVersion, const std::string& build,
        const std::string& platformWords, const std::string& systemName,
        const std::string& systemVersion, const std::string& locale);
    static std::shared_ptr<base::OperationQueue> sharedQueue();
    static base::RunLoop& threadForRequest(const TXHTTPRequest& request);
    static void setDefaultCache(std::shared_ptr<TXCacheDelegate> cache);
    static std::shared_ptr<TXCacheDelegate> defaultCache();
    static bool isNetworkInUse();
    static void setShouldUpdateNetworkActivityIndicator(bool on);

    // Same scheme, host and port (a missing port counts as the scheme's own).
    static bool isSameOrigin(const base::Url& a, const base::Url& b);
    static std::string base64forData(const base::Data& data);
    // A missing file counts as removed; a failed delete answers a code-8 error.
    static std::optional<base::Error> removeFileAtPath(const std::string& path);
    // None when the file does not exist; "application/octet-stream" when the
    // extension is unknown.
    static std::optional<std::string> mimeTypeForFileAtPath(const std::string& path);

    // Session cookies and credentials shared by every request of the process.
    static std::vector<platform::net::Cookie> sessionCookies();
    static void setSessionCookies(std::vector<platform::net::Cookie> cookies);
    static void addSessionCookie(const platform::net::Cookie& cookie);
    static void clearSession();

    // The media type and, when the converter knows the "charset=" named, the text
    // encoding of a "Content-Type" value; an unknown charset leaves *responseEncoding.
    static void parseMimeType(std::string* mimeType, std::string* responseEncoding,
                              const std::string& contentType);
    // Seconds since 1970 UTC for "Sun, 06 Nov 1994 08:49:37 GMT" (weekday and
    // seconds optional); none for anything else.
    static std::optional<double> dateFromRFC1123String(const std::string& text);
    // When a response stops being fresh (seconds since 1970): now plus `maxAge`, or
    // with 0 its "Cache-Control" max-age, else its "Expires" date; none without.
    static std::optional<double> expiryDateForRequest(const TXHTTPRequest& request, double maxAge);

    // Connection pool and throttle.
    static void expirePersistentConnections();
    static bool isBandwidthThrottled();
    static uint64_t maxBandwidthPerSecond();
    static void setMaxBandwidthPerSecond(uint64_t bytes);
    static uint64_t averageBandwidthUsedPerSecond();

  protected:
    explicit TXHTTPRequest(const std::optional<base::Url>& url);

    // ---- subclass hooks ----
    // Finishes the body before the message is built; overrides call this last.
    virtual void buildPostBody();
    // Adds cookies, user agent, encodings and range; once per request.
    virtual void buildRequestHeaders();
    // Reports success; an override may inspect the reply first and then call this.
    virtual void requestFinished();
    virtual void failWithError(const base::Error& error);
    // Ends the operation.
    virtual void markAsFinished();
    // Sends the request again on a new connection, once per request; an override of
    // requestFinished() that reads a reply asking for this (S3's "RequestTimeout")
    // calls it, and the request then goes on instead of finishing. False when the
    // request was already retried.
    bool retryUsingNewConnection();
    // Copies this request's configuration into `other`, a request of the same class
    // (used by copy()); each class that adds settings copies them whole after its base,
    // through copySettingsInto().
    virtual void copyConfigurationInto(TXHTTPRequest& other) const;
    // `fresh` with this request's configuration: what copy() returns.
    std::shared_ptr<TXHTTPRequest> configuredCopy(std::shared_ptr<TXHTTPRequest> fresh) const {
        copyConfigurationInto(*fresh);
        return fresh;
    }
    // Copies the settings struct `settings` of class T, guarded by `lock`, into the same
    // struct of `other` (a T) with both locks held.
    template <class T, class Settings>
    static void copySettingsInto(std::mutex& lock, const Settings& settings, TXHTTPRequest& other,
                                 std::mutex T::*otherLock, Settings T::*otherSettings) {
        T& to = dynamic_cast<T&>(other);
        std::scoped_lock guard(lock, to.*otherLock);
        to.*otherSettings = settings;
    }
    // Copies what a HEAD companion needs into `head` (used by HEADRequest()).
    void copyHeadConfigurationInto(TXHTTPRequest& head);
    void setPostBodyWasBuilt(bool built);
    void setHaveBuiltRequestHeaders(bool built);
    // The lock that guards this request's state; subclasses take it around theirs.
    std::recursive_mutex& cancelledLock() const;

  private:
    struct State;
    std::unique_ptr<State> s_;
};
