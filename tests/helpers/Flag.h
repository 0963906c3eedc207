#pragma once
// A one-shot flag another thread can wait for, with a bound so that a fault fails
// the test instead of hanging the suite.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace testsupport {

class Flag {
  public:
    void set() {
        std::lock_guard lock(mutex_);
        set_ = true;
        cv_.notify_all();
    }
    // False when `seconds` passed without the flag being set.
    bool wait(double seconds = 10) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return set_; });
    }
    bool isSet() {
        std::lock_guard lock(mutex_);
        return set_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

}  // namespace testsupport
