#include "base/NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace base {

struct NotificationCenter::Impl {
    struct Entry {
        std::string name;
        const void* object = nullptr;
        std::shared_ptr<Handler> handler;
    };
    // One handler call in progress.
    struct Call {
        ObserverId id;
        std::thread::id thread;
    };

    std::mutex mutex;
    std::condition_variable callEnded;
    std::map<ObserverId, Entry> observers;  // ids grow, so this is registration order
    std::vector<Call> calls;
    ObserverId nextId = 1;

    bool runningElsewhereLocked(ObserverId id) const {
        const auto self = std::this_thread::get_id();
        return std::any_of(calls.begin(), calls.end(),
                           [&](const Call& c) { return c.id == id && c.thread != self; });
    }
};

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may be removed from static destructors at exit.
    static auto* center = new NotificationCenter;
    return *center;
}

NotificationCenter::NotificationCenter() : impl_(std::make_unique<Impl>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter::ObserverId NotificationCenter::addObserver(std::string name, Handler handler,
                                                               const void* object) {
    auto shared = std::make_shared<Handler>(std::move(handler));
    std::lock_guard lock(impl_->mutex);
    const ObserverId id = impl_->nextId++;
    impl_->observers.emplace(id, Impl::Entry{std::move(name), object, std::move(shared)});
    return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
    std::shared_ptr<Handler> doomed;  // destroyed after the lock is released
    std::unique_lock lock(impl_->mutex);
    auto it = impl_->observers.find(id);
    if (it != impl_->observers.end()) {
        doomed = std::move(it->second.handler);
        impl_->observers.erase(it);
    }
    // A call on this very thread is the caller itself (or below it) and finishes later.
    impl_->callEnded.wait(lock, [&] { return !impl_->runningElsewhereLocked(id); });
}

void NotificationCenter::post(const std::string& name, const void* object, Value userInfo) {
    const Notification notification{name, object, std::move(userInfo)};
    std::vector<ObserverId> matching;
    {
        std::lock_guard lock(impl_->mutex);
        for (const auto& [id, entry] : impl_->observers) {
            const bool nameMatches = entry.name.empty() || entry.name == name;
            const bool objectMatches = !entry.object || entry.object == object;
            if (nameMatches && objectMatches) {
                matching.push_back(id);
            }
        }
    }
    // Observers added during this post wait for the next one; removed ones are skipped.
    const auto self = std::this_thread::get_id();
    for (ObserverId id : matching) {
        std::shared_ptr<Handler> handler;
        {
            std::lock_guard lock(impl_->mutex);
            auto it = impl_->observers.find(id);
            if (it == impl_->observers.end()) {
                continue;
            }
            handler = it->second.handler;
            impl_->calls.push_back({id, self});
        }
        struct EndCall {
            Impl& impl;
            ObserverId id;
            std::thread::id self;
            ~EndCall() {
                {
                    std::lock_guard lock(impl.mutex);
                    auto it =
                        std::find_if(impl.calls.begin(), impl.calls.end(),
                                     [&](const auto& c) { return c.id == id && c.thread == self; });
                    impl.calls.erase(it);
                }
                impl.callEnded.notify_all();
            }
        } endCall{*impl_, id, self};
        (*handler)(notification);
    }
}

Observation& Observation::operator=(Observation&& o) noexcept {
    if (this != &o) {
        reset();
        center_ = std::exchange(o.center_, nullptr);
        id_ = o.id_;
    }
    return *this;
}

void Observation::reset() {
    if (auto* center = std::exchange(center_, nullptr)) {
        center->removeObserver(id_);
    }
}

}  // namespace base
