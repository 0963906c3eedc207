#include "client/OWQuorvaneCore.h"

#include "base/RunLoop.h"
#include "base/TextEncoding.h"
#include "client/OWQuorvaneAPIOperation.h"
#include "client/OWQuorvaneCacheController.h"
#include "support/OWLog.h"

namespace {

std::optional<std::string> utf8Text(const base::Data& bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!base::TextEncoding::isValidUtf8(text)) {
        return std::nullopt;
    }
    return std::string(text);
}

}  // namespace

OWQuorvaneCore::OWQuorvaneCore(Owner owner, std::shared_ptr<OWQuorvaneAccount> account,
                               std::shared_ptr<OWQuorvaneURLLoading> loader,
                               std::shared_ptr<OWQuorvaneCacheController> cache,
                               std::shared_ptr<base::NotificationCenter> center)
    : owner_(std::move(owner)),
      account_(std::move(account)),
      loader_(std::move(loader)),
      cache_(std::move(cache)),
      center_(std::move(center)) {}

std::optional<std::string> OWQuorvaneCore::lastURL() const {
    std::lock_guard lock(mutex_);
    return lastURL_;
}

void OWQuorvaneCore::setLastURL(std::optional<std::string> url) {
    std::lock_guard lock(mutex_);
    lastURL_ = std::move(url);
}

bool OWQuorvaneCore::isQuorvServer() const {
    return account_ && !account_->quorvServerURLString().empty();
}

// Read against the main run loop's clock, the one the token controller stamps expiries
// with and arms its refresh by.
bool OWQuorvaneCore::tokenHasExpired() const {
    const auto expires = account_ ? account_->oauthTokenExpires() : std::nullopt;
    return !expires || expires->secondsSince1970 <= base::RunLoop::main().clock()->now();
}

void OWQuorvaneCore::sendRequest(const OWQuorvaneRequest& request,
                                 OWQuorvaneURLLoading::Cancellation& cancellation) {
    cache_->clearStaleCache();
    // The token of this moment: a call that waited for a refresh carries the new one.
    const auto token = account_ ? account_->oauthToken() : std::nullopt;
    const OWQuorvaneRequest::Body body = request.body(token);
    if (request.files) {
        OWLog::appendLog("params: %@", body.loggedParams);
    }
    const std::optional<std::string> bodyText = utf8Text(body.bytes);
    if (bodyText) {
        if (auto cached = cache_->cachedResult(request.context, *bodyText)) {
            postSuccess(*cached, request, bodyText, true);
            return;
        }
    }
    OWQuorvaneURLLoading::Response response;
    if (loader_) {
        response = loader_->load({request.url, body.bytes, body.contentType}, cancellation);
    }
    if (cancellation.isCancelled()) {
        return;
    }
    processReturnedData(response.data, request, bodyText, response.statusCode);
}

void OWQuorvaneCore::processReturnedData(const base::Data& data, const OWQuorvaneRequest& request,
                                         const std::optional<std::string>& bodyText,
                                         int statusCode) {
    if (isUnloading()) {
        return;
    }
    setLastURL(request.url);
    OWLog::appendLog("Received response from server");
    OWQuorvaneReply reply = OWQuorvaneReply::read(data, statusCode, isQuorvServer());
    switch (reply.kind) {
        case OWQuorvaneReply::Kind::Success:
            postSuccess(reply.result, request, bodyText, false);
            return;
        case OWQuorvaneReply::Kind::OAuthError:
            if (account_ && account_->isRefreshingToken() && resendAfterRefresh(request)) {
                return;
            }
            break;
        case OWQuorvaneReply::Kind::Failure:
            break;
    }
    postError(*reply.error, request, bodyText);
}

bool OWQuorvaneCore::resendAfterRefresh(const OWQuorvaneRequest& request) {
    if (request.retried) {
        return false;
    }
    if (!owner_.enqueue || isUnloading()) {
        return false;
    }
    OWLog::appendLog("Token refresh in progress - sending %@ again afterwards", request.context);
    OWQuorvaneRequest again = request;
    again.retried = true;
    // The refresh has paused the queue; should it have ended meanwhile, the queue runs
    // and the call goes out at once with the new token.
    auto operation = std::make_shared<OWQuorvaneAPIOperation>(shared_from_this(), std::move(again));
    operation->setPriority(base::Operation::Priority::High);
    owner_.enqueue(std::move(operation));
    return true;
}

void OWQuorvaneCore::dropStaleReplies(const OWQuorvaneRequest& request) {
    if (request.invalidations.empty()) {
        return;
    }
    for (const auto& entry : cache_->resultCache()) {
        for (const auto& rule : request.invalidations) {
            if (entry.context != rule.context) {
                continue;
            }
            if (rule.field &&
                OWQuorvaneRequest::formField(entry.params, *rule.field) !=
                    OWQuorvaneRequest::sanitizeURLParameter(rule.value.value_or(""))) {
                continue;
            }
            cache_->deleteCacheForContext(entry.context, entry.params);
            break;
        }
    }
}

void OWQuorvaneCore::postSuccess(const base::Value& result, const OWQuorvaneRequest& request,
                                 const std::optional<std::string>& bodyText, bool cached) {
    if (isUnloading()) {
        return;
    }
    if (!cached) {
        dropStaleReplies(request);
        if (bodyText && !request.context.empty() &&
            cache_->cacheTimeouts().contains(request.context)) {
            cache_->deleteCacheForContext(request.context, *bodyText);
            cache_->addCacheObject(request.context, *bodyText, result);
        }
    }
    base::MainQueue::post([self = shared_from_this(), result, context = request.context] {
        if (!self->isUnloading() && self->owner_.deliver) {
            self->owner_.deliver(result, context);
        }
    });
}

void OWQuorvaneCore::postError(const base::Error& error, const OWQuorvaneRequest& request,
                               const std::optional<std::string>& bodyText) {
    if (isUnloading()) {
        return;
    }
    if (bodyText) {
        cache_->deleteCacheForContext(request.context, *bodyText);
    }
    base::MainQueue::post([self = shared_from_this(), error, context = request.context] {
        if (!self->isUnloading() && self->owner_.deliverError) {
            self->owner_.deliverError(error, context);
        }
    });
}
