#include "client/OWQuorvaneFormTokenExchange.h"

#include "base/Url.h"
#include "transfer/TXFormDataRequest.h"

namespace {

OWQuorvaneTokenExchange::Outcome outcomeOf(const TXHTTPRequest& request, bool failed) {
    OWQuorvaneTokenExchange::Outcome outcome;
    outcome.failed = failed;
    outcome.statusCode = request.responseStatusCode();
    outcome.body = request.responseData().value_or(request.rawResponseData());
    if (auto error = request.error()) {
        outcome.errorText = error->localizedDescription();
    }
    return outcome;
}

}  // namespace

void OWQuorvaneFormTokenExchange::send(const Request& request, Completion done) {
    auto http = TXFormDataRequest::requestWithURL(base::Url::parse(request.url));
    for (const auto& [name, value] : request.fields) {
        http->addPostValue(base::Value(value), name);
    }
    // The client authenticates with its first attempt rather than after a challenge.
    http->setUsername(request.clientID);
    http->setPassword(request.clientSecret);
    http->setAuthenticationScheme("Basic");
    http->setShouldPresentCredentialsBeforeChallenge(true);
    http->setUseSessionPersistence(false);
    http->setUseKeychainPersistence(false);

    // Both blocks run on the main thread; the first to run answers, once.
    auto answer = std::make_shared<Completion>(std::move(done));
    std::weak_ptr<TXFormDataRequest> weak = http;
    auto finish = [answer, weak](bool failed) {
        auto self = weak.lock();
        if (!self || !*answer) {
            return;
        }
        Completion call = std::move(*answer);
        *answer = nullptr;
        call(outcomeOf(*self, failed));
    };
    http->setCompletionBlock([finish] { finish(false); });
    http->setFailedBlock([finish] { finish(true); });
    queue_->addOperation(http);
}
