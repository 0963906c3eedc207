#pragma once
// The process-wide bandwidth limit shared by every request. Bytes moved are counted
// in one-second windows; when a window goes over the limit, streams are taken off
// their run loops until the excess has been paid for. A limit of 0 turns it off.
// Times are monotonic seconds from the caller's clock.
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

class TXBandwidthThrottle {
  public:
    static TXBandwidthThrottle& shared();

    void setMaxBandwidthPerSecond(uint64_t bytes);
    uint64_t maxBandwidthPerSecond() const;
    bool isThrottled() const { return maxBandwidthPerSecond() > 0; }
    void incrementBandwidthUsedInLastSecond(uint64_t bytes);
    uint64_t averageBandwidthUsedPerSecond() const;

    // Rolls the window when it has ended and works out the wake-up time.
    void measure(double now);
    // Whether streams must stay off their loops at `now` (after measuring).
    bool shouldHoldStreams(double now);
    // Largest download read now: a quarter of what the window has left, at least 1.
    size_t maxDownloadReadLength(double now, size_t normal);
    // Largest body read now: a quarter of the limit, cut to what the window has left.
    uint64_t maxUploadReadLength(double now);

    // Forgets all counting (tests).
    void reset();

  private:
    void recordUsage(double now);

    mutable std::mutex mutex_;
    uint64_t max_ = 0;
    uint64_t used_ = 0;
    std::optional<double> windowEnd_;
    std::deque<uint64_t> samples_;
    uint64_t average_ = 0;
    std::optional<double> wakeUp_;
};
