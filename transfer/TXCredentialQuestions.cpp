#include "transfer/TXCredentialQuestions.h"

#include <algorithm>

#include "transfer/TXHTTPRequest.h"

TXCredentialQuestions& TXCredentialQuestions::shared() {
    static TXCredentialQuestions questions;
    return questions;
}

bool TXCredentialQuestions::askOrWait(const Subject& subject,
                                      const std::shared_ptr<TXHTTPRequest>& request) {
    std::lock_guard lock(mutex_);
    auto same = std::find_if(open_.begin(), open_.end(),
                             [&](const Question& q) { return q.subject == subject; });
    if (same != open_.end() && same->asker != request.get() && !same->askerAlive.expired()) {
        same->waiters.push_back(request);
        return false;
    }
    if (same == open_.end()) {
        same = open_.insert(open_.end(), Question{subject, nullptr, {}, {}});
    }
    // A question whose asker went away without ending it passes to this request,
    // waiters and all.
    same->asker = request.get();
    same->askerAlive = request;
    return true;
}

std::vector<std::shared_ptr<TXHTTPRequest>> TXCredentialQuestions::end(const TXHTTPRequest* asker) {
    std::vector<std::shared_ptr<TXHTTPRequest>> woken;
    std::lock_guard lock(mutex_);
    auto mine = std::find_if(open_.begin(), open_.end(),
                             [&](const Question& q) { return q.asker == asker; });
    if (mine == open_.end())
        return woken;
    for (const auto& waiter : mine->waiters) {
        if (auto alive = waiter.lock())
            woken.push_back(std::move(alive));
    }
    open_.erase(mine);
    return woken;
}
