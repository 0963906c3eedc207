// Reading what the server sends back: the header block, cookies, encodings, the
// body in memory or in a file, inflation, redirects, stream errors and the end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>

#include "base/Path.h"
#include "base/TextEncoding.h"
#include "base/UniqueFd.h"
#include "platform/net/CookieStore.h"
#include "platform/net/NetError.h"
#include "support/OWLocalPaths.h"
#include "transfer/TXBandwidthThrottle.h"
#include "transfer/TXHTTPRequestState.h"
#include "transfer/TXResponseHeaderParser.h"

namespace {

std::mutex sessionCookiesLock;
std::vector<platform::net::Cookie>& sessionCookieList() {
    static auto* list = new std::vector<platform::net::Cookie>;
    return *list;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Fields that prove who is asking: credentials, cookies, tokens and signatures
// ("X-Amz-Security-Token", "X-Signature", "X-Api-Key", ...).
bool carriesCredentials(const std::string& name) {
    std::string n = lower(name);
    if (n == "authorization" || n == "proxy-authorization" || n == "cookie")
        return true;
    for (const char* word : {"signature", "token", "api-key", "apikey", "secret", "session"}) {
        if (n.find(word) != std::string::npos)
            return true;
    }
    return false;
}

int openForDownload(const std::string& path, bool append) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    return ::open(path.c_str(), flags, 0600);
}

base::Error moveError(const std::string& from, const std::string& to) {
    return TXMakeError(TXErrorCode::FileManagement,
                       "Failed to move file from '" + from + "' to '" + to + "'");
}

// Puts `from` in place of `to` without ever leaving `to` missing: a rename, or
// across file systems a copy beside `to` that is then renamed over it.
bool replaceFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    std::string beside =
        base::deletingLastPathComponent(to) + "/.txdownload-" + OWLocalPaths::randomString(12);
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::open(beside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = in >= 0 && out >= 0;
    std::vector<uint8_t> buf(262144);
    while (ok) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = base::writeFully(out, buf.data(), static_cast<size_t>(n));
    }
    ok = ok && ::fsync(out) == 0;
    if (in >= 0)
        ::close(in);
    if (out >= 0)
        ok = ::close(out) == 0 && ok;
    ok = ok && ::rename(beside.c_str(), to.c_str()) == 0;
    if (!ok) {
        ::unlink(beside.c_str());
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

}  // namespace

// ---- cookies ----------------------------------------------------------------

void TXHTTPRequest::State::applyCookieHeader() {
    if (cookiePersistence && message) {
        for (auto& c : platform::net::CookieStore::shared().cookiesForUrl(message->url())) {
            requestCookies.push_back(c);
        }
    }
    std::vector<platform::net::Cookie> cookies = requestCookies;
    if (auto main = mainRequest.lock(); main && isHeadOfMain())
        cookies = main->requestCookies();
    std::string header;
    for (const auto& c : cookies) {
        header += (header.empty() ? "" : "; ") + c.name + "=" + c.value;
    }
    if (!header.empty())
        requestHeaders.set("Cookie", header);
}

std::vector<platform::net::Cookie> TXHTTPRequest::sessionCookies() {
    std::lock_guard guard(sessionCookiesLock);
    return sessionCookieList();
}

void TXHTTPRequest::setSessionCookies(std::vector<platform::net::Cookie> cookies) {
    std::lock_guard guard(sessionCookiesLock);
    for (const auto& c : sessionCookieList()) platform::net::CookieStore::shared().deleteCookie(c);
    sessionCookieList() = std::move(cookies);
}

void TXHTTPRequest::addSessionCookie(const platform::net::Cookie& cookie) {
    std::lock_guard guard(sessionCookiesLock);
    for (auto& c : sessionCookieList()) {
        if (c.sameIdentity(cookie)) {
            c = cookie;
            return;
        }
    }
    sessionCookieList().push_back(cookie);
}

// ---- headers ----------------------------------------------------------------

void TXHTTPRequest::State::readResponseHeaders() {
    authenticationNeeded = AuthenticationState::None;
    const platform::net::HttpResponseHead* head = stream ? stream->responseHead() : nullptr;
    if (!head)
        return;
    responseHeaders = head->headers;
    statusCode = head->statusCode;
    statusMessage = head->statusLine;

    // A cache that can answer now (a "304 Not Modified") renews its entry and answers.
    if (cache && cache->canUseCachedDataForRequest(r)) {
        cache->updateExpiryForRequest(r, secondsToCache);
        if (useDataFromCache())
            return;
    }

    if (statusCode == 401)
        authenticationNeeded = AuthenticationState::Server;
    else if (statusCode == 407)
        authenticationNeeded = AuthenticationState::Proxy;
    if (authenticationNeeded == AuthenticationState::None)
        storeBasicSessionCredentials();

    parseStringEncodingFromHeaders();
    parseResponseCookies();

    if (!willRedirect()) {
        auto main = isHeadOfMain() ? mainRequest.lock() : nullptr;
        auto length = head->headers.get("Content-Length");
        std::optional<uint64_t> n =
            length ? TXResponseHeaderParser::parseContentLength(*length) : std::nullopt;
        if (n) {
            if (main && main->allowCompressedResponse() && main->showAccurateProgress() &&
                main->shouldResetDownloadProgress() && *n == 20) {
                // 20 bytes is an empty gzip body: the real length is unknown.
                main->setShowAccurateProgress(false);
                main->s_->incrementDownloadSizeBy(1);
            } else if (main) {
                std::lock_guard mainGuard(main->s_->lock);
                main->s_->contentLength = *n;
                if (main->s_->accurateProgress && main->s_->resetDownloadProgress)
                    main->s_->incrementDownloadSizeBy(
                        static_cast<int64_t>(*n + main->s_->partialDownloadSize));
            } else {
                contentLength = *n;
                if (accurateProgress && resetDownloadProgress)
                    incrementDownloadSizeBy(static_cast<int64_t>(*n + partialDownloadSize));
            }
        } else if (accurateProgress && resetDownloadProgress) {
            accurateProgress = false;
            incrementDownloadSizeBy(1);
        }
    }
    evaluateKeepAlive(*head);
    requestReceivedResponseHeaders(head->headers);
}

void TXHTTPRequest::State::parseStringEncodingFromHeaders() {
    std::string mime;
    responseEncoding = defaultEncoding;
    if (auto type = responseHeaders ? responseHeaders->get("Content-Type") : std::nullopt)
        TXHTTPRequest::parseMimeType(&mime, &responseEncoding, *type);
}

void TXHTTPRequest::State::parseResponseCookies() {
    auto& store = platform::net::CookieStore::shared();
    responseCookies =
        platform::net::Cookie::parseAll(*responseHeaders, message->url(), store.now());
    if (cookiePersistence && !responseCookies.empty()) {
        store.setCookies(responseCookies);
        for (const auto& c : responseCookies) addSessionCookie(c);
    }
}

void TXHTTPRequest::parseMimeType(std::string* mimeType, std::string* responseEncoding,
                                  const std::string& contentType) {
    auto parsed = TXResponseHeaderParser::parseContentType(contentType);
    if (mimeType)
        *mimeType = parsed.mimeType;
    // Only a character set that the converter knows replaces the default.
    if (responseEncoding && !parsed.charset.empty() &&
        base::TextEncoding::toUtf8("", parsed.charset))
        *responseEncoding = parsed.charset;
}

// ---- redirects --------------------------------------------------------------

bool TXHTTPRequest::State::willRedirect() {
    if (!shouldRedirect || !responseHeaders)
        return false;
    auto location = responseHeaders->get("Location");
    if (!location)
        return false;
    if (statusCode != 301 && statusCode != 302 && statusCode != 303 && statusCode != 307)
        return false;
    if (sendsCallbacks()) {
        auto keep = self();
        onMain([keep] {
            State& s = *keep->s_;
            if (auto d = s.delegate.lock())
                d->requestRedirected(*keep);
            if (s.redirectedBlock)
                s.redirectedBlock();
        });
    }
    auto target = url->resolving(*location);
    if (statusCode != 307 && (statusCode == 303 || !rfc2616Redirects)) {
        method = "GET";
        postBody.clear();
        compressedPostBody.clear();
        postLength = 0;
        platform::net::HttpHeaders kept;
        for (const char* name : {"User-Agent", "Accept"}) {
            if (auto v = requestHeaders.get(name))
                kept.set(name, *v);
        }
        requestHeaders = kept;
        engineAddedAuthorization = false;
        haveBuiltRequestHeaders = false;
        haveBuiltPostBody = true;
    } else {
        requestHeaders.remove("Cookie");
        haveBuiltRequestHeaders = false;
        // Method, body and headers go on, but credentials and signatures made for one
        // origin are never handed to another, whoever wrote them.
        if (!target || !isSameOrigin(*target, *url)) {
            std::vector<std::string> names;
            for (const auto& field : requestHeaders.fields()) {
                if (carriesCredentials(field.first))
                    names.push_back(field.first);
            }
            for (const std::string& name : names) requestHeaders.remove(name);
            engineAddedAuthorization = false;
        }
    }
    redirectURL = target;
    needsRedirect = true;
    requestCookies.clear();
    return true;
}

void TXHTTPRequest::State::followRedirectAfterEnd() {
    auto d = delegate.lock();
    bool delegateAnswers = d && willRedirectSel && (customWillRedirect || d->answersWillRedirect());
    auto q = queue.lock();
    bool queueAnswers = q && q->answersWillRedirect();
    if ((delegateAnswers || queueAnswers) && redirectURL) {
        base::Url target = *redirectURL;
        redirectURL.reset();
        auto keep = self();
        onMain([keep, target] {
            State& s = *keep->s_;
            if (auto del = s.delegate.lock(); del && s.willRedirectSel)
                s.willRedirectSel(*del, *keep, target);
            if (auto qu = s.queue.lock(); qu && qu->answersWillRedirect())
                qu->willRedirectToURL(*keep, target);
        });
        return;
    }
    performRedirect();
}

void TXHTTPRequest::redirectToURL(const base::Url& target) {
    std::lock_guard guard(s_->lock);
    s_->redirectURL = target;
    s_->postToLoop([](State& s) { s.performRedirect(); });
}

void TXHTTPRequest::State::performRedirect() {
    if (!redirectURL)
        return;
    // Only web addresses are followed: a server must not steer us to a file or
    // another protocol.
    std::string scheme = lower(redirectURL->scheme());
    if (scheme != "http" && scheme != "https") {
        needsRedirect = false;
        r.failWithError(
            TXMakeError(TXErrorCode::UnableToCreateRequest, "Unable to create request (bad url?)"));
        return;
    }
    base::Url target = *redirectURL;
    url = target;
    authentication.reset();
    proxyAuthentication.reset();
    redirectURL.reset();
    lifecycle.enter(Phase::Redirecting);
    needsRedirect = false;
    ++redirectCount;
    if (redirectCount < 6) {
        r.main();
    } else {
        r.failWithError(TXMakeError(TXErrorCode::TooMuchRedirection,
                                    "The request failed because it redirected too many times"));
    }
}

// ---- answers from the cache -----------------------------------------------------

bool TXHTTPRequest::State::useDataFromCache() {
    if (!cache || !url)
        return false;
    auto headers = cache->cachedResponseHeadersForURL(*url);
    auto path = cache->pathToCachedResponseDataForURL(*url);
    if (!headers || !path)
        return false;
    // Whatever the network was doing for this request is over.
    stopStatusTimer();
    connectionCanBeReused = false;
    destroyReadStream();
    if (connection) {
        TXConnectionPool::shared().remove(connection);
        connection.reset();
    }
    closeDownloadFiles();
    auto status = headers->get("X-TXHTTPRequest-Response-Status-Code");
    auto code = status ? TXResponseHeaderParser::parseContentLength(*status) : std::nullopt;
    statusCode = code && *code < 1000 ? static_cast<int>(*code) : 200;
    didUseCachedResponse = true;
    responseHeaders = *headers;
    if (downloadPath.empty())
        rawResponseData = cache->cachedResponseDataForURL(*url).value_or(base::Data());
    else
        downloadPath = *path;
    auto length = headers->get("Content-Length");
    contentLength =
        length ? TXResponseHeaderParser::parseContentLength(*length).value_or(0) : uint64_t{0};
    totalBytesRead = contentLength;
    parseStringEncodingFromHeaders();
    if (message)
        parseResponseCookies();
    if (willRedirect()) {
        // Followed from the loop, outside whatever event brought us here.
        lifecycle.enter(Phase::Ended);
        downloadComplete = true;
        postToLoop([](State& s) { s.followRedirectAfterEnd(); });
        return true;
    }
    auto main = isHeadOfMain() ? mainRequest.lock() : nullptr;
    TXHTTPRequest& answered = main ? *main : r;
    {
        std::lock_guard guard(answered.s_->lock);
        State& a = *answered.s_;
        a.lifecycle.enter(Phase::Ended);
        a.downloadComplete = true;
        if (a.redirectCount == 0 && !a.originalURL)
            a.originalURL = a.url;
    }
    lifecycle.enter(Phase::Ended);
    downloadComplete = true;
    if (redirectCount == 0)
        originalURL = url;
    updateProgressIndicators();
    answered.requestFinished();
    answered.markAsFinished();
    if (main)
        r.markAsFinished();
    return true;
}

std::optional<double> TXHTTPRequest::dateFromRFC1123String(const std::string& text) {
    return TXResponseHeaderParser::parseRFC1123Date(text);
}

std::optional<double> TXHTTPRequest::expiryDateForRequest(const TXHTTPRequest& request,
                                                          double maxAge) {
    platform::net::HttpHeaders headers = request.responseHeaders();
    if (maxAge == 0) {
        if (auto control = headers.get("Cache-Control"))
            maxAge = TXResponseHeaderParser::parseMaxAge(*control).value_or(0);
    }
    if (maxAge == 0) {
        auto expires = headers.get("Expires");
        return expires ? dateFromRFC1123String(*expires) : std::nullopt;
    }
    return base::RunLoop::current().clock()->now() + maxAge;
}

// ---- body bytes -------------------------------------------------------------

void TXHTTPRequest::State::handleBytesAvailable() {
    if (!responseHeaders)
        readResponseHeaders();
    if (isComplete() || !stream || !stream->hasBytesAvailable())
        return;
    size_t size = 16384;
    if (contentLength > 262144)
        size = 262144;
    else if (contentLength > 65536)
        size = 65536;
    auto& throttle = TXBandwidthThrottle::shared();
    if (throttle.isThrottled())
        size = throttle.maxDownloadReadLength(now(), size);
    base::Data buffer(size);
    size_t n = stream->read(buffer.data(), buffer.size());
    if (n == 0)
        return;
    buffer.resize(n);

    std::optional<base::Data> inflated;
    bool compressed = r.isResponseCompressed();
    if (compressed && !waitToInflate) {
        if (!decompressor)
            decompressor = TXDataDecompressor::decompressor();
        std::optional<base::Error> err;
        inflated = decompressor->uncompressBytes(buffer, &err);
        if (err) {
            r.failWithError(*err);
            return;
        }
        if (!inflated)
            inflated.emplace();
    }
    totalBytesRead += n;
    lastActivityTime = now();
    throttle.incrementBandwidthUsedInLastSecond(n);

    if (needsRedirect && allowResume)
        return;
    auto d = delegate.lock();
    bool delegateWantsData =
        d && didReceiveData && (customDidReceiveData || d->answersDidReceiveData());
    if (delegateWantsData || dataBlock) {
        base::Data chunk = inflated ? *inflated : buffer;
        auto keep = self();
        onMain([keep, chunk] {
            State& s = *keep->s_;
            if (auto del = s.delegate.lock(); del && s.didReceiveData)
                s.didReceiveData(*del, *keep, chunk);
            if (s.dataBlock)
                s.dataBlock(chunk);
        });
        return;
    }
    if (downloadPath.empty()) {
        const base::Data& keepBytes = inflated ? *inflated : buffer;
        if (rawResponseData.size() > maxResponseDataLength ||
            keepBytes.size() > maxResponseDataLength - rawResponseData.size()) {
            base::Data().swap(rawResponseData);
            r.failWithError(TXMakeError(TXErrorCode::ResponseTooLarge,
                                        "The response is larger than " +
                                            std::to_string(maxResponseDataLength) + " bytes."));
            return;
        }
        rawResponseData.insert(rawResponseData.end(), keepBytes.begin(), keepBytes.end());
        return;
    }
    writeDownloadBytes(buffer.data(), buffer.size(), inflated ? &*inflated : nullptr);
}

void TXHTTPRequest::State::writeDownloadBytes(const uint8_t* bytes, size_t n,
                                              const base::Data* inflated) {
    if (downloadFd < 0) {
        if (temporaryDownloadPath.empty())
            temporaryDownloadPath = OWLocalPaths::tempFile();
        bool serverResumes = responseHeaders && responseHeaders->contains("Content-Range");
        bool append = allowResume && rangeSent && serverResumes;
        if (rangeSent && !serverResumes && partialDownloadSize > 0) {
            // The server ignored the range and sends everything: start afresh.
            incrementDownloadSizeBy(-static_cast<int64_t>(partialDownloadSize));
            partialDownloadSize = 0;
        }
        downloadFd = openForDownload(temporaryDownloadPath, append);
        if (downloadFd < 0) {
            r.failWithError(
                TXMakeError(TXErrorCode::FileManagement,
                            "Failed to write to file at path '" + temporaryDownloadPath + "'"));
            return;
        }
        if (inflated) {
            if (temporaryInflatedPath.empty())
                temporaryInflatedPath = OWLocalPaths::tempFile();
            inflatedDownloadFd = openForDownload(temporaryInflatedPath, append);
        }
    }
    bool ok = base::writeFully(downloadFd, bytes, n);
    if (ok && inflated && !inflated->empty())
        ok = inflatedDownloadFd >= 0 &&
             base::writeFully(inflatedDownloadFd, inflated->data(), inflated->size());
    if (!ok) {
        r.failWithError(
            TXMakeError(TXErrorCode::FileManagement,
                        "Failed to write to file at path '" + temporaryDownloadPath + "'"));
    }
}

void TXHTTPRequest::State::updatePartialDownloadSize() {
    if (!allowResume || downloadPath.empty() || temporaryDownloadPath.empty())
        return;
    struct stat st {};
    if (::stat(temporaryDownloadPath.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            r.failWithError(TXMakeError(
                TXErrorCode::FileManagement,
                "Failed to get attributes for file at path '" + temporaryDownloadPath + "'"));
        }
        return;
    }
    partialDownloadSize = static_cast<uint64_t>(st.st_size);
}

void TXHTTPRequest::State::closeDownloadFiles() {
    if (downloadFd >= 0)
        ::close(downloadFd);
    if (inflatedDownloadFd >= 0)
        ::close(inflatedDownloadFd);
    downloadFd = inflatedDownloadFd = -1;
}

void TXHTTPRequest::State::removeTemporaryDownloadFiles() {
    if (!allowResume && !temporaryDownloadPath.empty()) {
        ::unlink(temporaryDownloadPath.c_str());
        temporaryDownloadPath.clear();
    }
    if (!temporaryInflatedPath.empty()) {
        ::unlink(temporaryInflatedPath.c_str());
        temporaryInflatedPath.clear();
    }
}

void TXHTTPRequest::State::finishDownloadFile() {
    closeDownloadFiles();
    if (needsRedirect && allowResume)
        return;
    if (temporaryDownloadPath.empty()) {
        // Nothing arrived: the destination becomes an empty file.
        int fd = openForDownload(downloadPath, false);
        if (fd >= 0)
            ::close(fd);
        return;
    }
    bool compressed = r.isResponseCompressed();
    if (compressed && waitToInflate) {
        std::optional<base::Error> err;
        std::string inflatedBeside = downloadPath + ".txinflate-" + OWLocalPaths::randomString(8);
        if (!TXDataDecompressor::uncompressDataFromFile(temporaryDownloadPath, inflatedBeside,
                                                        &err)) {
            ::unlink(inflatedBeside.c_str());
            fileError = err;
        } else if (!replaceFile(inflatedBeside, downloadPath)) {
            ::unlink(inflatedBeside.c_str());
            fileError = moveError(inflatedBeside, downloadPath);
        }
        ::unlink(temporaryDownloadPath.c_str());
        temporaryDownloadPath.clear();
    } else if (compressed) {
        if (!replaceFile(temporaryInflatedPath, downloadPath))
            fileError = moveError(temporaryInflatedPath, downloadPath);
        temporaryInflatedPath.clear();
        ::unlink(temporaryDownloadPath.c_str());
        temporaryDownloadPath.clear();
    } else {
        if (!replaceFile(temporaryDownloadPath, downloadPath))
            fileError = moveError(temporaryDownloadPath, downloadPath);
        temporaryDownloadPath.clear();
    }
}

// ---- the end of the stream and errors ---------------------------------------

void TXHTTPRequest::State::handleStreamComplete() {
    stopStatusTimer();
    downloadComplete = true;
    if (!responseHeaders)
        readResponseHeaders();
    if (didUseCachedResponse)
        return;  // answered from the cache; nothing of the network remains
    if (stream && postLength > 0) {
        lastBytesSent = totalBytesSent;
        totalBytesSent = stream->requestBodyBytesWritten();
    }
    lifecycle.enter(Phase::Ended);
    if (contentLength == 0)
        contentLength = totalBytesRead;
    updateProgressIndicators();
    decompressor.reset();
    if (!downloadPath.empty())
        finishDownloadFile();
    if (cache && !didUseCachedResponse && !needsRedirect)
        cache->storeResponseForRequest(r, secondsToCache);
    releaseConnection();
    if (authenticationNeeded == AuthenticationState::None) {
        destroyReadStream();
    }
    bool finishing = !needsRedirect && authenticationNeeded == AuthenticationState::None &&
                     !didUseCachedResponse;
    if (finishing) {
        if (fileError) {
            r.failWithError(*fileError);
        } else {
            r.requestFinished();
        }
        // The reply asked for the request again and it is on its way, body and all.
        if (!isComplete())
            return;
    }
    if (authenticationNeeded == AuthenticationState::None)
        removeTemporaryBodyFiles();
    if (finishing)
        r.markAsFinished();
}

void TXHTTPRequest::State::handleStreamError() {
    std::optional<base::Error> streamError = stream ? stream->error() : std::nullopt;
    if (!error) {
        if (streamError && platform::net::isStaleConnectionError(*streamError) &&
            retryUsingNewConnection()) {
            return;
        }
        cancelLoad();
        std::string text = "A connection failure occurred";
        if (streamError && streamError->code() >= -9818 && streamError->code() <= -9800) {
            text = streamError->localizedDescription() +
                   ": SSL problem (Possible causes may include a bad/expired/self-signed "
                   "certificate, clock set to wrong date)";
        }
        r.failWithError(TXMakeError(TXErrorCode::ConnectionFailure, text,
                                    streamError ? &*streamError : nullptr));
    } else {
        cancelLoad();
    }
    checkRequestStatus();
}

// ---- results ----------------------------------------------------------------

bool TXHTTPRequest::isResponseCompressed() const {
    std::lock_guard guard(s_->lock);
    if (!s_->responseHeaders)
        return false;
    auto encoding = s_->responseHeaders->get("Content-Encoding");
    return encoding && encoding->find("gzip") != std::string::npos;
}

std::optional<base::Data> TXHTTPRequest::responseData() const {
    std::lock_guard guard(s_->lock);
    if (isResponseCompressed() && s_->waitToInflate) {
        std::optional<base::Error> err;
        auto data = TXDataDecompressor::uncompressData(s_->rawResponseData, &err);
        if (err)
            return std::nullopt;
        return data.value_or(base::Data());
    }
    return s_->rawResponseData;
}

std::optional<std::string> TXHTTPRequest::responseString() const {
    auto data = responseData();
    if (!data)
        return std::nullopt;
    std::string_view bytes(reinterpret_cast<const char*>(data->data()), data->size());
    return base::TextEncoding::toUtf8(bytes, responseEncoding());
}
