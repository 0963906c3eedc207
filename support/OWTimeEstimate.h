#pragma once
// Remaining time of a long job from its progress: a linear extrapolation from the
// progress made since start(), "Calculating time" for the first four seconds, and a
// text recomputed at most every 0.8 seconds so a busy progress window shows a steady
// value. Every property is read and replaced under one lock; copies copy every field.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/Clock.h"
#include "base/Value.h"

class OWTimeEstimate {
  public:
    static constexpr double kWarmUpSeconds = 4.0;
    static constexpr double kCacheSeconds = 0.8;

    // `clock` drives "now" (tests pass a manual clock); the system clock by default.
    explicit OWTimeEstimate(std::shared_ptr<base::Clock> clock = nullptr);
    static OWTimeEstimate timeEstimateWithTotal(double total,
                                                std::shared_ptr<base::Clock> clock = nullptr);
    OWTimeEstimate(const OWTimeEstimate& other);
    OWTimeEstimate& operator=(const OWTimeEstimate& other);

    void start();
    void startWithValue(double value);
    // Start and current value back to 0; the start date stays.
    void reset();
    void incrementCurrentValue(double delta);

    // Seconds left, or -1 when there is nothing to go on yet.
    double secondsRemaining() const;
    // "Calculating time" (or "" with the message off), "Unknown", or "HH:MM:SS".
    std::string timeRemaining();

    std::optional<base::Date> startDate() const;
    void setStartDate(std::optional<base::Date> date);
    std::optional<double> startValue() const;
    void setStartValue(std::optional<double> value);
    std::optional<double> totalValue() const;
    void setTotalValue(std::optional<double> value);
    std::optional<double> currentValue() const;
    void setCurrentValue(std::optional<double> value);
    std::optional<std::string> cachedValue() const;
    void setCachedValue(std::optional<std::string> text);
    std::optional<base::Date> lastQueryDate() const;
    void setLastQueryDate(std::optional<base::Date> date);
    bool showCalculatingTimeMessage() const;
    void setShowCalculatingTimeMessage(bool show);

  private:
    struct Fields {
        std::optional<base::Date> startDate;
        std::optional<double> startValue;
        std::optional<double> totalValue;
        std::optional<double> currentValue;
        std::optional<std::string> cachedValue;
        std::optional<base::Date> lastQueryDate;
        bool showCalculatingTimeMessage = true;
    };
    double now() const;
    double secondsRemainingLocked(double now) const;

    std::shared_ptr<base::Clock> clock_;
    mutable std::mutex mutex_;
    Fields f_;
};
