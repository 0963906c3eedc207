#pragma once
// Wall-clock and monotonic time behind one interface, so tests can drive time by hand.
#include <atomic>
#include <memory>

namespace base {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since 1970-01-01 UTC.
    virtual double now() const = 0;
    // Seconds on a clock that never goes back; only differences mean anything.
    virtual double monotonic() const = 0;
    // True for a clock that only moves when told to.
    virtual bool isManual() const { return false; }

    static std::shared_ptr<Clock> system();
};

class ManualClock final : public Clock {
public:
    explicit ManualClock(double start = 1'700'000'000.0) : now_(start), mono_(1000.0) {}
    double now() const override { return now_.load(); }
    double monotonic() const override { return mono_.load(); }
    bool isManual() const override { return true; }
    void advance(double seconds);

private:
    std::atomic<double> now_;
    std::atomic<double> mono_;
};

}  // namespace base
