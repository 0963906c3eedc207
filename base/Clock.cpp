#include "base/Clock.h"

#include <chrono>

namespace base {

namespace detail {
// Defined with the run loops: wakes every loop whose timers read `clock`, so a loop
// that sleeps in another thread sees timers that the advance made due.
void wakeLoopsUsing(const Clock& clock);
}  // namespace detail

namespace {

class SystemClock final : public Clock {
  public:
    double now() const override {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
    double monotonic() const override {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
};

void addTo(std::atomic<double>& value, double delta) {
    double old = value.load();
    while (!value.compare_exchange_weak(old, old + delta)) {
    }
}

}  // namespace

std::shared_ptr<Clock> Clock::system() {
    static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

void ManualClock::advance(double seconds) {
    // A manual clock never goes back, or timers would fire out of order.
    if (!(seconds > 0)) {
        return;
    }
    addTo(now_, seconds);
    addTo(mono_, seconds);
    detail::wakeLoopsUsing(*this);
}

}  // namespace base
