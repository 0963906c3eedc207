#pragma once
// A rational time of a movie: value / timescale seconds. An invalid time (unknown
// duration, a failed read) converts to NaN seconds.
#include <cstdint>
#include <limits>

namespace platform::media {

struct MediaTime {
    int64_t value = 0;
    int32_t timescale = 0;
    bool valid = false;

    static MediaTime make(int64_t value, int32_t timescale) {
        return MediaTime{value, timescale, timescale > 0};
    }
    static MediaTime invalid() { return MediaTime{}; }

    double seconds() const {
        if (!valid || timescale <= 0) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return static_cast<double>(value) / static_cast<double>(timescale);
    }
};

}  // namespace platform::media
