// Persistent connections, the bandwidth throttle and progress accounting.
#include <algorithm>
#include <cstdio>

#include "transfer/TXBandwidthThrottle.h"
#include "transfer/TXHTTPRequestState.h"
#include "transfer/TXResponseHeaderParser.h"

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The TLS checks a connection was set up under; empty for plain HTTP.
std::string securityOf(const platform::net::Url& target,
                       const platform::net::HttpReadStream::Options& options) {
    if (!target.isSecure())
        return {};
    const auto& tls = options.tls;
    char identity[32];
    std::snprintf(identity, sizeof identity, "%p", static_cast<const void*>(tls.identity.get()));
    return std::string(tls.validatesCertificateChain ? "verify" : "no-verify") + "|" + tls.caFile +
           "|" + tls.peerName + "|" + identity;
}

}  // namespace

// ---- connections ------------------------------------------------------------

void TXHTTPRequest::State::chooseConnection(platform::net::HttpReadStream::Options& options) {
    auto& pool = TXConnectionPool::shared();
    pool.expire(now());
    const auto& target = message->url();
    if (!persistent || target.host().empty() || target.scheme().empty()) {
        connection.reset();
        connectionId = 0;
        return;
    }
    if (requestId == 0)
        requestId = pool.nextRequestId();
    std::shared_ptr<platform::net::HttpReadStream> old;
    connection = pool.choose(connection, target.scheme(), target.host(), target.port(),
                             securityOf(target, options), requestId, now(), old);
    connectionId = connection->id;
    options.persistent = true;
    options.connectionId = connection->id;
}

void TXHTTPRequest::State::releaseConnection() {
    if (!connection)
        return;
    if (!connectionCanBeReused)
        unscheduleReadStream();
    TXConnectionPool::shared().release(connection, now() + persistentTimeout);
    if (!connectionCanBeReused) {
        TXConnectionPool::shared().remove(connection);
        connection.reset();
    }
}

void TXHTTPRequest::State::evaluateKeepAlive(const platform::net::HttpResponseHead& head) {
    connectionCanBeReused = false;
    if (!persistent)
        return;
    std::string c = lower(head.headers.get("Connection").value_or(""));
    if ((head.isHttp10() && c != "keep-alive") || c == "close")
        return;
    auto keepAlive = head.headers.get("Keep-Alive");
    if (!keepAlive) {
        connectionCanBeReused = true;
        return;
    }
    auto [timeout, max] = TXResponseHeaderParser::parseKeepAlive(*keepAlive);
    if (max && *max >= 6) {
        connectionCanBeReused = true;
        if (timeout)
            persistentTimeout = static_cast<double>(*timeout);
    }
}

bool TXHTTPRequest::State::retryUsingNewConnection() {
    if (retryCount != 0)
        return false;
    lifecycle.enter(Phase::Retrying);
    cancelLoad();
    if (connection) {
        TXConnectionPool::shared().release(connection, 0);
        TXConnectionPool::shared().remove(connection);
        connection.reset();
    }
    ++retryCount;
    startRequest();
    return true;
}

bool TXHTTPRequest::retryUsingNewConnection() {
    std::lock_guard guard(s_->lock);
    return s_->retryUsingNewConnection();
}

void TXHTTPRequest::expirePersistentConnections() {
    TXConnectionPool::shared().expire(base::RunLoop::current().clock()->monotonic());
}

// ---- throttle ---------------------------------------------------------------

void TXHTTPRequest::State::scheduleReadStream() {
    if (!stream || streamScheduled || !loop)
        return;
    stream->schedule(*loop, mode);
    streamScheduled = true;
    TXConnectionPool::shared().streamScheduled(true);
}

void TXHTTPRequest::State::unscheduleReadStream() {
    if (!stream || !streamScheduled)
        return;
    stream->unschedule(mode);
    streamScheduled = false;
    TXConnectionPool::shared().streamScheduled(false);
}

void TXHTTPRequest::State::performThrottling() {
    if (!stream)
        return;
    auto& throttle = TXBandwidthThrottle::shared();
    double t = now();
    throttle.measure(t);
    if (throttle.isThrottled() && throttle.shouldHoldStreams(t)) {
        unscheduleReadStream();
    } else {
        scheduleReadStream();
    }
}

bool TXHTTPRequest::isBandwidthThrottled() {
    return TXBandwidthThrottle::shared().isThrottled();
}

uint64_t TXHTTPRequest::maxBandwidthPerSecond() {
    return TXBandwidthThrottle::shared().maxBandwidthPerSecond();
}

void TXHTTPRequest::setMaxBandwidthPerSecond(uint64_t bytes) {
    TXBandwidthThrottle::shared().setMaxBandwidthPerSecond(bytes);
}

uint64_t TXHTTPRequest::averageBandwidthUsedPerSecond() {
    return TXBandwidthThrottle::shared().averageBandwidthUsedPerSecond();
}

// ---- progress ---------------------------------------------------------------

// Every amount and fraction goes to the receivers on the main thread; each is
// looked up again when the call runs, so one that went away receives nothing.
void TXHTTPRequest::State::sendProgress(bool upload, int64_t amount, double fraction,
                                        uint64_t total) {
    auto keep = self();
    onMain([keep, upload, amount, fraction, total] {
        State& s = *keep->s_;
        auto q = std::dynamic_pointer_cast<TXProgressDelegate>(s.queue.lock());
        auto receiver = upload ? s.uploadProgress.lock() : s.downloadProgress.lock();
        for (auto& target : {q, receiver}) {
            if (!target)
                continue;
            if (upload)
                target->didSendBytes(*keep, amount);
            else
                target->didReceiveBytes(*keep, amount);
        }
        if (receiver && fraction >= 0)
            receiver->setDoubleValue(fraction);
        auto& block = upload ? s.bytesSentBlock : s.bytesReceivedBlock;
        if (block)
            block(static_cast<uint64_t>(amount), total);
    });
}

void TXHTTPRequest::State::incrementUploadSizeBy(int64_t amount) {
    auto keep = self();
    onMain([keep, amount] {
        State& s = *keep->s_;
        if (auto q = std::dynamic_pointer_cast<TXProgressDelegate>(s.queue.lock()))
            q->incrementUploadSizeBy(*keep, amount);
        if (auto p = s.uploadProgress.lock())
            p->incrementUploadSizeBy(*keep, amount);
        if (s.uploadSizeBlock)
            s.uploadSizeBlock(amount);
    });
}

void TXHTTPRequest::State::incrementDownloadSizeBy(int64_t amount) {
    auto keep = self();
    onMain([keep, amount] {
        State& s = *keep->s_;
        if (auto q = std::dynamic_pointer_cast<TXProgressDelegate>(s.queue.lock()))
            q->incrementDownloadSizeBy(*keep, amount);
        if (auto p = s.downloadProgress.lock())
            p->incrementDownloadSizeBy(*keep, amount);
        if (s.downloadSizeBlock)
            s.downloadSizeBlock(amount);
    });
}

// Withdraws what the receivers were told of this transfer (not what the socket took
// at once, which they never heard of).
void TXHTTPRequest::State::removeUploadProgressSoFar() {
    sendProgress(true, -uploadReported, 0, postLength);
    uploadReported = 0;
}

void TXHTTPRequest::State::resetProgressIndicators() {
    if (isHeadOfMain())
        return;
    if (resetUploadProgress) {
        incrementUploadSizeBy(accurateProgress ? static_cast<int64_t>(postLength) : 1);
        auto keep = self();
        onMain([keep] {
            if (auto p = keep->s_->uploadProgress.lock())
                p->setDoubleValue(0);
        });
    }
    if (resetDownloadProgress && partialDownloadSize == 0) {
        auto keep = self();
        onMain([keep] {
            if (auto p = keep->s_->downloadProgress.lock())
                p->setDoubleValue(0);
        });
    }
}

void TXHTTPRequest::State::updateProgressIndicators() {
    if (isHeadOfMain())
        return;
    if (!accurateProgress && (!isComplete() || updatedProgress))
        return;
    updateUploadProgress();
    updateDownloadProgress();
}

void TXHTTPRequest::State::updateUploadProgress() {
    if (isCancelled() || totalBytesSent == 0)
        return;
    if (!uploadBufferSize && totalBytesSent != postLength) {
        // What the first write of the body left in the socket's send buffer is not
        // progress the user can see. It is taken when that write returned: a count
        // taken at this tick would also swallow all that went out since.
        auto fill = stream ? stream->initialSendBufferFill() : std::nullopt;
        uploadBufferSize = std::min(fill.value_or(totalBytesSent), totalBytesSent);
        if (*uploadBufferSize > 0)
            incrementUploadSizeBy(-static_cast<int64_t>(*uploadBufferSize));
    }
    uint64_t buffered = uploadBufferSize.value_or(0);
    int64_t amount = 0;
    if (accurateProgress) {
        uint64_t from = std::max(lastBytesSent, buffered);
        if (totalBytesSent <= from)
            return;
        amount = static_cast<int64_t>(totalBytesSent - from);
    } else {
        amount = 1;
        updatedProgress = true;
    }
    double denominator = static_cast<double>(postLength - buffered);
    double fraction =
        denominator > 0 ? static_cast<double>(totalBytesSent - buffered) / denominator : 1.0;
    uploadReported += amount;
    lastBytesSent = totalBytesSent;  // a second look at the same count reports nothing
    sendProgress(true, amount, fraction, postLength);
}

void TXHTTPRequest::State::updateDownloadProgress() {
    if (!responseHeaders || needsRedirect)
        return;
    if (contentLength == 0 && !isComplete())
        return;
    uint64_t have = totalBytesRead + partialDownloadSize;
    int64_t amount = 0;
    if (accurateProgress && contentLength > 0) {
        amount = static_cast<int64_t>(have) - static_cast<int64_t>(lastBytesRead);
        if (amount == 0)
            return;
    } else {
        if (updatedProgress)
            return;
        amount = 1;
        updatedProgress = true;
    }
    uint64_t total = contentLength + partialDownloadSize;
    double fraction = total > 0 ? static_cast<double>(have) / static_cast<double>(total) : 1.0;
    sendProgress(false, amount, fraction, total);
    lastBytesRead = have;
}
