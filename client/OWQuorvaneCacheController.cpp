#include "client/OWQuorvaneCacheController.h"

#include <algorithm>

std::shared_ptr<OWQuorvaneCacheController> OWQuorvaneCacheController::shared() {
    // Never destroyed: queue workers may still reach it while the process exits.
    static auto* shared = new std::shared_ptr<OWQuorvaneCacheController>(
        std::make_shared<OWQuorvaneCacheController>());
    return *shared;
}

OWQuorvaneCacheController& OWQuorvaneCacheController::sharedController() {
    return *shared();
}

OWQuorvaneCacheController::OWQuorvaneCacheController(std::shared_ptr<base::Clock> clock)
    : clock_(std::move(clock)), timeouts_(defaultCacheTimeouts()) {}

const base::Dictionary& OWQuorvaneCacheController::defaultCacheTimeouts() {
    static const base::Dictionary table{
        {"projects", 20},
        {"projects/files", 10},
        {"projects/files/video", 10},
        {"projects/files/audio", 10},
        {"projects/files/audiovideo", 10},
        {"projects/files/revisions", 10},
        {"projects/folders", 15},
        {"projects/events", 60},
        {"projects/departments", 20},
        {"projects/workflows", 300},
        {"files/metadata", 300},
        {"files/canupload", 10},
        {"sessions", 20},
        {"users", 30},
        {"relationships", 5},
        {"annotation", 15},
    };
    return table;
}

bool OWQuorvaneCacheController::isCacheableContext(const std::string& context) {
    return defaultCacheTimeouts().contains(context);
}

void OWQuorvaneCacheController::addCacheObject(std::string context, std::string params,
                                               base::Value result) {
    Entry entry{std::move(context), base::Date{clock_->now()}, clock_->monotonic(),
                std::move(params), std::move(result)};
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
}

void OWQuorvaneCacheController::deleteCacheForContext(const std::optional<std::string>& context,
                                                      const std::optional<std::string>& params) {
    if (!context || !params) {
        return;
    }
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return e.context == *context && e.params == *params;
    });
    if (it != entries_.end()) {
        entries_.erase(it);
    }
}

void OWQuorvaneCacheController::clearStaleLocked() {
    const double now = clock_->monotonic();
    std::erase_if(entries_, [&](const Entry& e) {
        const base::Value* lifetime = e.context.empty() ? nullptr : timeouts_.find(e.context);
        const double seconds = lifetime ? static_cast<double>(lifetime->integerValue())
                                        : static_cast<double>(kDefaultLifetime);
        return now - e.storedAt > seconds;
    });
}

void OWQuorvaneCacheController::clearStaleCache() {
    std::lock_guard lock(mutex_);
    clearStaleLocked();
}

void OWQuorvaneCacheController::clearAll() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

std::optional<base::Value> OWQuorvaneCacheController::cachedResult(const std::string& context,
                                                                   const std::string& params) {
    std::lock_guard lock(mutex_);
    clearStaleLocked();
    for (const Entry& e : entries_) {
        if (e.context == context && e.params == params) {
            return e.result;
        }
    }
    return std::nullopt;
}

std::vector<OWQuorvaneCacheController::Entry> OWQuorvaneCacheController::resultCache() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

base::Dictionary OWQuorvaneCacheController::cacheTimeouts() const {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

void OWQuorvaneCacheController::setCacheTimeouts(base::Dictionary timeouts) {
    std::lock_guard lock(mutex_);
    timeouts_ = std::move(timeouts);
}

std::optional<std::string> OWQuorvaneCacheController::username() const {
    std::lock_guard lock(mutex_);
    return username_;
}

void OWQuorvaneCacheController::setUsername(std::optional<std::string> name) {
    std::lock_guard lock(mutex_);
    username_ = std::move(name);
}

std::optional<std::string> OWQuorvaneCacheController::serverURL() const {
    std::lock_guard lock(mutex_);
    return serverURL_;
}

void OWQuorvaneCacheController::setServerURL(std::optional<std::string> url) {
    std::lock_guard lock(mutex_);
    serverURL_ = std::move(url);
}
