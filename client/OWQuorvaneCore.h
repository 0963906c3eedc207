#pragma once
// The part of a service client that its queue's worker and the main-thread deliveries
// reach. It outlives the client only as long as a queued call or a delivery holds it,
// and does nothing once the client has gone away (the unloading flag), so the owner
// never waits for a reply in flight. It knows its client only through the callbacks
// of an Owner, and shares ownership of the reply cache and notification center it uses,
// so neither can go away under it.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/NotificationCenter.h"
#include "base/OperationQueue.h"
#include "client/OWQuorvaneAccount.h"
#include "client/OWQuorvaneReply.h"
#include "client/OWQuorvaneRequest.h"
#include "client/OWQuorvaneURLLoading.h"

class OWQuorvaneCacheController;

class OWQuorvaneCore : public std::enable_shared_from_this<OWQuorvaneCore> {
  public:
    // What the core asks of the client that owns it. Each callback holds the client
    // weakly and does nothing once it has gone.
    struct Owner {
        // Queues an operation on the client's queue (a call sent again after a token
        // refresh); any thread.
        std::function<void(std::shared_ptr<base::Operation>)> enqueue;
        // Main thread: the reply to the call of `context`, or its failure.
        std::function<void(const base::Value& result, const std::string& context)> deliver;
        std::function<void(const base::Error& error, const std::string& context)> deliverError;
    };

    OWQuorvaneCore(Owner owner, std::shared_ptr<OWQuorvaneAccount> account,
                   std::shared_ptr<OWQuorvaneURLLoading> loader,
                   std::shared_ptr<OWQuorvaneCacheController> cache,
                   std::shared_ptr<base::NotificationCenter> center);

    const std::shared_ptr<OWQuorvaneAccount>& account() const { return account_; }
    OWQuorvaneCacheController& cache() const { return *cache_; }
    base::NotificationCenter& center() const { return *center_; }

    bool isUnloading() const { return unloading_.load(); }
    void setUnloading() { unloading_.store(true); }
    std::optional<std::string> lastURL() const;
    void setLastURL(std::optional<std::string> url);
    bool isQuorvServer() const;
    // The access-token expiry is missing or not later than now.
    bool tokenHasExpired() const;

    // Queue side: answers from the reply cache or sends the call, then reads the reply.
    void sendRequest(const OWQuorvaneRequest& request,
                     OWQuorvaneURLLoading::Cancellation& cancellation);
    // Reads a reply; `bodyText` is what was sent (none: not UTF-8, never cached).
    void processReturnedData(const base::Data& data, const OWQuorvaneRequest& request,
                             const std::optional<std::string>& bodyText, int statusCode);
    void postSuccess(const base::Value& result, const OWQuorvaneRequest& request,
                     const std::optional<std::string>& bodyText, bool cached);
    void postError(const base::Error& error, const OWQuorvaneRequest& request,
                   const std::optional<std::string>& bodyText);

  private:
    void dropStaleReplies(const OWQuorvaneRequest& request);
    // Queues the call once more, first in line, to go out after the token refresh.
    bool resendAfterRefresh(const OWQuorvaneRequest& request);

    const Owner owner_;
    std::shared_ptr<OWQuorvaneAccount> account_;
    std::shared_ptr<OWQuorvaneURLLoading> loader_;
    const std::shared_ptr<OWQuorvaneCacheController> cache_;
    const std::shared_ptr<base::NotificationCenter> center_;
    std::atomic<bool> unloading_{false};
    mutable std::mutex mutex_;
    std::optional<std::string> lastURL_;
};
