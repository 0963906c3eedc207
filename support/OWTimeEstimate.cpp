#include "support/OWTimeEstimate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/Format.h"

OWTimeEstimate::OWTimeEstimate(std::shared_ptr<base::Clock> clock)
    : clock_(clock ? std::move(clock) : base::Clock::system()) {}

OWTimeEstimate OWTimeEstimate::timeEstimateWithTotal(double total,
                                                     std::shared_ptr<base::Clock> clock) {
    OWTimeEstimate estimate(std::move(clock));
    estimate.setTotalValue(total);
    return estimate;
}

OWTimeEstimate::OWTimeEstimate(const OWTimeEstimate& other) : clock_(other.clock_) {
    std::lock_guard lock(other.mutex_);
    f_ = other.f_;
}

OWTimeEstimate& OWTimeEstimate::operator=(const OWTimeEstimate& other) {
    if (this == &other)
        return *this;
    Fields copy;
    {
        std::lock_guard lock(other.mutex_);
        copy = other.f_;
    }
    std::lock_guard lock(mutex_);
    clock_ = other.clock_;
    f_ = std::move(copy);
    return *this;
}

double OWTimeEstimate::now() const {
    return clock_->now();
}

void OWTimeEstimate::start() {
    startWithValue(0.0);
}

void OWTimeEstimate::startWithValue(double value) {
    const double t = now();
    std::lock_guard lock(mutex_);
    f_.startValue = value;
    f_.startDate = base::Date{t};
    if (!f_.currentValue)
        f_.currentValue = 0.0;
    f_.cachedValue.reset();
    f_.lastQueryDate.reset();
}

void OWTimeEstimate::reset() {
    std::lock_guard lock(mutex_);
    f_.startValue = 0.0;
    f_.currentValue = 0.0;
    f_.cachedValue.reset();
    f_.lastQueryDate.reset();
}

void OWTimeEstimate::incrementCurrentValue(double delta) {
    std::lock_guard lock(mutex_);
    f_.currentValue = f_.currentValue.value_or(0.0) + delta;
}

double OWTimeEstimate::secondsRemaining() const {
    const double t = now();
    std::lock_guard lock(mutex_);
    return secondsRemainingLocked(t);
}

double OWTimeEstimate::secondsRemainingLocked(double now) const {
    if (!f_.startDate || !f_.currentValue || !f_.totalValue || !f_.startValue)
        return -1;
    const double elapsed = now - f_.startDate->secondsSince1970;
    if (elapsed < kWarmUpSeconds)
        return -1;
    // An empty or unset total gives no estimate (it would divide by zero).
    const double total = *f_.totalValue;
    if (!(total > 0) || !std::isfinite(total))
        return -1;
    const double percent = (*f_.currentValue - *f_.startValue) / total * 100.0;
    if (!(percent > 0) || !std::isfinite(percent))
        return -1;
    const double seconds = (100.0 - percent) * (elapsed / percent);
    return std::isfinite(seconds) ? seconds : -1;
}

std::string OWTimeEstimate::timeRemaining() {
    const double t = now();
    std::lock_guard lock(mutex_);
    if (f_.cachedValue && f_.lastQueryDate &&
        t - f_.lastQueryDate->secondsSince1970 < kCacheSeconds) {
        return *f_.cachedValue;
    }
    if (!f_.startDate || t - f_.startDate->secondsSince1970 < kWarmUpSeconds) {
        return f_.showCalculatingTimeMessage ? "Calculating time" : "";
    }
    const double seconds = secondsRemainingLocked(t);
    if (seconds < 0)
        return "Unknown";
    // Clamp before converting: a crawling job can extrapolate to absurd values.
    const auto s = static_cast<int64_t>(std::min(std::ceil(seconds), 1.0e15));
    std::string text = base::format("%0.2li:%0.2li:%0.2li", (s / 3600) % 24, (s / 60) % 60, s % 60);
    f_.cachedValue = text;
    f_.lastQueryDate = base::Date{t};
    return text;
}

#define OW_ESTIMATE_PROPERTY(Type, getter, setter, field) \
    Type OWTimeEstimate::getter() const {                 \
        std::lock_guard lock(mutex_);                     \
        return f_.field;                                  \
    }                                                     \
    void OWTimeEstimate::setter(Type value) {             \
        std::lock_guard lock(mutex_);                     \
        f_.field = std::move(value);                      \
    }

OW_ESTIMATE_PROPERTY(std::optional<base::Date>, startDate, setStartDate, startDate)
OW_ESTIMATE_PROPERTY(std::optional<double>, startValue, setStartValue, startValue)
OW_ESTIMATE_PROPERTY(std::optional<double>, totalValue, setTotalValue, totalValue)
OW_ESTIMATE_PROPERTY(std::optional<double>, currentValue, setCurrentValue, currentValue)
OW_ESTIMATE_PROPERTY(std::optional<std::string>, cachedValue, setCachedValue, cachedValue)
OW_ESTIMATE_PROPERTY(std::optional<base::Date>, lastQueryDate, setLastQueryDate, lastQueryDate)
OW_ESTIMATE_PROPERTY(bool, showCalculatingTimeMessage, setShowCalculatingTimeMessage,
                     showCalculatingTimeMessage)

#undef OW_ESTIMATE_PROPERTY
