#include "client/OWQuorvaneURLLoader.h"

#include <utility>

#include "base/Url.h"
#include "support/OWLog.h"
#include "transfer/TXHTTPRequest.h"
#include "transfer/TXHTTPRequestError.h"

OWQuorvaneURLLoader::Response OWQuorvaneURLLoader::load(const Request& request,
                                                        Cancellation& cancellation) {
    Response response;
    const auto url = base::Url::parse(request.url);
    if (!url || cancellation.isCancelled()) {
        return response;
    }
    auto http = TXHTTPRequest::requestWithURL(url);
    http->setRequestMethod("POST");
    http->setTimeOutSeconds(request.timeOutSeconds);
    http->setNumberOfTimesToRetryOnTimeout(0);
    http->setShouldRedirect(true);
    http->setValidatesSecureCertificate(true);
    // Every reply is read fresh; the API's own reply cache sits above this.
    http->setDownloadCache(nullptr);
    http->setShouldWaitToInflateCompressedResponses(false);
    http->setMaxResponseDataLength(kMaxReplyBytes);
    http->addRequestHeader("Content-Type", request.contentType.value_or(kFormContentType));
    http->setPostBody(request.body);

    cancellation.setHandler([weak = std::weak_ptr<TXHTTPRequest>(http)] {
        if (auto live = weak.lock()) {
            live->cancel();
        }
    });
    http->startSynchronous();
    cancellation.setHandler(nullptr);

    if (const auto error = http->error();
        error && error->domain() == TXHTTPRequestErrorDomain &&
        error->code() == static_cast<int>(TXErrorCode::ResponseTooLarge)) {
        OWLog::appendLog("Reply to %@ dropped: %@", request.url, error->localizedDescription());
        return response;
    }
    response.statusCode = http->responseStatusCode();
    if (auto data = http->responseData()) {
        response.data = std::move(*data);
    }
    return response;
}

std::shared_ptr<OWQuorvaneURLLoading> OWQuorvaneURLLoader::shared() {
    static const std::shared_ptr<OWQuorvaneURLLoading> loader =
        std::make_shared<OWQuorvaneURLLoader>();
    return loader;
}
