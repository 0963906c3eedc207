#pragma once
// In-process notifications by name, delivered synchronously on the posting thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Value.h"

namespace base {

struct Notification {
    std::string name;
    const void* object = nullptr;  // identity only, never dereferenced
    Value userInfo;
};

class NotificationCenter {
public:
    using ObserverId = uint64_t;
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();
    NotificationCenter();
    ~NotificationCenter();

    // Observe `name` (empty: every name) from `object` (nullptr: any sender).
    ObserverId addObserver(std::string name, Handler handler, const void* object = nullptr);
    // After this returns the handler is never called again; a call already running on
    // another thread is waited for. Safe from inside the handler itself.
    void removeObserver(ObserverId id);
    void post(const std::string& name, const void* object = nullptr, Value userInfo = {});

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Removes its observer when destroyed.
class Observation {
public:
    Observation() = default;
    Observation(NotificationCenter& center, NotificationCenter::ObserverId id)
        : center_(&center), id_(id) {}
    Observation(Observation&& o) noexcept : center_(o.center_), id_(o.id_) { o.center_ = nullptr; }
    Observation& operator=(Observation&& o) noexcept;
    ~Observation() { reset(); }
    void reset();

private:
    NotificationCenter* center_ = nullptr;
    NotificationCenter::ObserverId id_ = 0;
};

}  // namespace base
