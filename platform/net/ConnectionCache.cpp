#include "platform/net/ConnectionCache.h"

namespace platform::net {

ConnectionCache& ConnectionCache::shared() {
    // Never destroyed: the network thread may still use it while the process exits.
    static ConnectionCache* cache = new ConnectionCache;
    return *cache;
}

void ConnectionCache::put(const ConnectionKey& key, std::unique_ptr<Connection> connection,
                          uint64_t owner) {
    std::unique_ptr<Connection> dropped;  // closed outside the lock
    std::lock_guard lock(mutex_);
    for (auto& e : idle_) {
        if (e.key == key) {  // one idle socket per record: the newer wins
            dropped = std::move(e.connection);
            e.connection = std::move(connection);
            e.owner = owner;
            return;
        }
    }
    if (idle_.size() >= kMaxIdle) {
        dropped = std::move(idle_.front().connection);
        idle_.erase(idle_.begin());
    }
    idle_.push_back({key, std::move(connection), owner});
}

std::unique_ptr<Connection> ConnectionCache::take(const ConnectionKey& key) {
    std::unique_ptr<Connection> found;
    {
        std::lock_guard lock(mutex_);
        for (auto it = idle_.begin(); it != idle_.end(); ++it) {
            if (it->key == key) {
                found = std::move(it->connection);
                idle_.erase(it);
                break;
            }
        }
    }
    if (found && !found->isAlive())
        found.reset();
    return found;
}

void ConnectionCache::closeOwnedBy(uint64_t owner) {
    std::vector<Entry> closing;
    std::lock_guard lock(mutex_);
    for (auto it = idle_.begin(); it != idle_.end();) {
        if (it->owner == owner) {
            closing.push_back(std::move(*it));
            it = idle_.erase(it);
        } else {
            ++it;
        }
    }
}

void ConnectionCache::closeAll() {
    std::vector<Entry> closing;
    std::lock_guard lock(mutex_);
    closing.swap(idle_);
}

size_t ConnectionCache::idleCount() const {
    std::lock_guard lock(mutex_);
    return idle_.size();
}

}  // namespace platform::net
