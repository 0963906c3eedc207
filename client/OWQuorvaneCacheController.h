#pragma once
// The process-wide in-memory cache of parsed replies to read-only API calls, kept for
// a few seconds to a few minutes per kind of call. Entries are immutable once stored;
// ages are measured on a steady clock, so a change of the wall clock neither keeps
// stale replies nor drops fresh ones.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Value.h"

class OWQuorvaneCacheController {
  public:
    struct Entry {
        std::string context;
        base::Date time;      // when it was stored (wall clock, for display)
        double storedAt = 0;  // when it was stored (steady clock, for ageing)
        std::string params;   // the request body text
        base::Value result;   // the parsed reply
    };
    // Lifetime of an entry whose context is not in the table.
    static constexpr int kDefaultLifetime = 5;

    static OWQuorvaneCacheController& sharedController();
    // The same controller, for owners that share it.
    static std::shared_ptr<OWQuorvaneCacheController> shared();
    explicit OWQuorvaneCacheController(std::shared_ptr<base::Clock> clock = base::Clock::system());

    // The lifetime table, context to whole seconds; only these contexts are cached.
    static const base::Dictionary& defaultCacheTimeouts();
    static bool isCacheableContext(const std::string& context);

    // Stores a reply for the context and body, stamped now.
    void addCacheObject(std::string context, std::string params, base::Value result);
    // Removes the first entry with this context and body; a missing argument matches nothing.
    void deleteCacheForContext(const std::optional<std::string>& context,
                               const std::optional<std::string>& params);
    // Removes every entry older (strictly) than its context's lifetime.
    void clearStaleCache();
    void clearAll();
    // Stale clearing, then the first entry with this context and body.
    std::optional<base::Value> cachedResult(const std::string& context, const std::string& params);

    std::vector<Entry> resultCache() const;
    base::Dictionary cacheTimeouts() const;
    void setCacheTimeouts(base::Dictionary timeouts);
    std::optional<std::string> username() const;
    void setUsername(std::optional<std::string> name);
    std::optional<std::string> serverURL() const;
    void setServerURL(std::optional<std::string> url);

  private:
    void clearStaleLocked();

    mutable std::mutex mutex_;
    std::shared_ptr<base::Clock> clock_;
    std::vector<Entry> entries_;
    base::Dictionary timeouts_;
    std::optional<std::string> username_;
    std::optional<std::string> serverURL_;
};
