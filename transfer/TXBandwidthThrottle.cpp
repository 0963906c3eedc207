#include "transfer/TXBandwidthThrottle.h"

#include <algorithm>
#include <cmath>

TXBandwidthThrottle& TXBandwidthThrottle::shared() {
    static TXBandwidthThrottle* throttle = new TXBandwidthThrottle;
    return *throttle;
}

void TXBandwidthThrottle::setMaxBandwidthPerSecond(uint64_t bytes) {
    std::lock_guard guard(mutex_);
    max_ = bytes;
    if (bytes == 0)
        wakeUp_.reset();
}

uint64_t TXBandwidthThrottle::maxBandwidthPerSecond() const {
    std::lock_guard guard(mutex_);
    return max_;
}

void TXBandwidthThrottle::incrementBandwidthUsedInLastSecond(uint64_t bytes) {
    std::lock_guard guard(mutex_);
    used_ += bytes;
}

uint64_t TXBandwidthThrottle::averageBandwidthUsedPerSecond() const {
    std::lock_guard guard(mutex_);
    return average_;
}

void TXBandwidthThrottle::recordUsage(double now) {
    if (used_ > 0 && windowEnd_) {
        double passed = std::floor(now - *windowEnd_);
        for (double s = 0; s < passed && samples_.size() > 5; ++s) samples_.pop_front();
    } else {
        samples_.clear();
    }
    samples_.push_back(used_);
    windowEnd_ = now + 1.0;
    used_ = 0;
    uint64_t sum = 0;
    for (uint64_t s : samples_) sum += s;
    average_ = sum / samples_.size();
}

void TXBandwidthThrottle::measure(double now) {
    std::lock_guard guard(mutex_);
    if (!windowEnd_ || *windowEnd_ <= now) {
        // The excess of the ended window still has to be paid for.
        if (max_ > 0 && used_ > max_ && windowEnd_) {
            wakeUp_ = *windowEnd_ + static_cast<double>(used_ - max_) / static_cast<double>(max_);
        }
        recordUsage(now);
        return;
    }
    if (max_ > 0 && used_ > max_) {
        wakeUp_ = *windowEnd_ + static_cast<double>(used_ - max_) / static_cast<double>(max_);
    }
}

bool TXBandwidthThrottle::shouldHoldStreams(double now) {
    std::lock_guard guard(mutex_);
    return max_ > 0 && wakeUp_ && *wakeUp_ > now;
}

size_t TXBandwidthThrottle::maxDownloadReadLength(double now, size_t normal) {
    std::lock_guard guard(mutex_);
    if (max_ == 0)
        return normal;
    if (used_ >= max_ || (windowEnd_ && *windowEnd_ <= now))
        return 1;
    uint64_t quarter = (max_ - used_) / 4;
    return static_cast<size_t>(std::clamp<uint64_t>(quarter, 1, normal));
}

uint64_t TXBandwidthThrottle::maxUploadReadLength(double now) {
    std::lock_guard guard(mutex_);
    uint64_t length = max_ / 4;
    uint64_t left = used_ >= max_ ? 0 : max_ - used_;
    length = std::min(length, left);
    bool ended = !windowEnd_ || *windowEnd_ <= now;
    if ((length == 0 || ended) && windowEnd_) {
        wakeUp_ = *windowEnd_;
    }
    return length;
}

void TXBandwidthThrottle::reset() {
    std::lock_guard guard(mutex_);
    max_ = used_ = average_ = 0;
    windowEnd_.reset();
    wakeUp_.reset();
    samples_.clear();
}
