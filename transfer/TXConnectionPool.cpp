#include "transfer/TXConnectionPool.h"

#include <algorithm>

TXConnectionPool& TXConnectionPool::shared() {
    static TXConnectionPool* pool = new TXConnectionPool;  // lives as long as the process
    return *pool;
}

void TXConnectionPool::expire(double now) {
    std::vector<std::shared_ptr<platform::net::HttpReadStream>> closing;
    {
        std::lock_guard guard(mutex_);
        std::erase_if(records_, [&](const std::shared_ptr<Record>& r) {
            if (r->request || r->expires > now)
                return false;
            if (r->stream)
                closing.push_back(std::move(r->stream));
            return true;
        });
    }
    // Closing touches the transport's cache; done outside our lock. A stream
    // belongs to the loop it last ran on, but close() only drops the parked socket.
    for (auto& s : closing) s->close();
}

std::shared_ptr<TXConnectionPool::Record> TXConnectionPool::choose(
    std::shared_ptr<Record> current, const std::string& scheme, const std::string& host,
    uint16_t port, const std::string& security, uint64_t requestId, double now,
    std::shared_ptr<platform::net::HttpReadStream>& oldStream) {
    std::lock_guard guard(mutex_);
    auto matches = [&](const Record& r) {
        return r.host == host && r.scheme == scheme && r.port == port && r.security == security;
    };
    if (current) {
        bool inPool = std::find(records_.begin(), records_.end(), current) != records_.end();
        if (!inPool || !matches(*current)) {
            current.reset();
        } else if (!current->request && current->expires <= now) {
            std::erase(records_, current);
            current.reset();
        } else if (current->request && *current->request != requestId) {
            current.reset();
        }
    }
    if (!current) {
        for (auto& r : records_) {
            if (!r->request && matches(*r))
                current = r;
        }
    }
    if (current) {
        oldStream = current->stream;
    } else {
        current = std::make_shared<Record>();
        current->id = ++nextConnectionNumber_;
        current->host = host;
        current->port = port;
        current->scheme = scheme;
        current->security = security;
        records_.push_back(current);
    }
    current->request = requestId;
    return current;
}

void TXConnectionPool::release(const std::shared_ptr<Record>& record, double expires) {
    std::lock_guard guard(mutex_);
    record->request.reset();
    record->expires = expires;
}

void TXConnectionPool::remove(const std::shared_ptr<Record>& record) {
    std::lock_guard guard(mutex_);
    std::erase(records_, record);
}

uint64_t TXConnectionPool::nextRequestId() {
    std::lock_guard guard(mutex_);
    return ++nextRequestId_;
}

size_t TXConnectionPool::size() const {
    std::lock_guard guard(mutex_);
    return records_.size();
}

void TXConnectionPool::closeAll() {
    expire(1e300);
}

void TXConnectionPool::streamScheduled(bool on) {
    std::lock_guard guard(mutex_);
    running_ += on ? 1 : -1;
}

int TXConnectionPool::runningRequestCount() const {
    std::lock_guard guard(mutex_);
    return running_;
}
