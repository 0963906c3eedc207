#include "platform/image/ImageScaler.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace platform::image {

namespace {

// The source pixels one output pixel along an axis covers, and how much of each.
struct Span {
    int first = 0;
    std::vector<double> weights;  // sum to 1
};

std::vector<Span> spansFor(int sourceLength, int targetLength) {
    std::vector<Span> spans(static_cast<size_t>(targetLength));
    const double step = static_cast<double>(sourceLength) / targetLength;
    for (int d = 0; d < targetLength; ++d) {
        const double begin = d * step;
        const double end = std::min(static_cast<double>(sourceLength), (d + 1) * step);
        Span& span = spans[static_cast<size_t>(d)];
        span.first = static_cast<int>(std::floor(begin));
        const int last = std::min(sourceLength, static_cast<int>(std::ceil(end)));
        for (int s = span.first; s < last; ++s) {
            const double covered = std::min(end, s + 1.0) - std::max(begin, static_cast<double>(s));
            span.weights.push_back(std::max(0.0, covered) / (end - begin));
        }
    }
    return spans;
}

// One source row resampled across, alpha-weighted: r*a, g*a, b*a, a per pixel.
void resampleRow(const RGBAImage& source, int y, const std::vector<Span>& across,
                 std::vector<double>& out) {
    out.assign(across.size() * 4, 0.0);
    for (size_t d = 0; d < across.size(); ++d) {
        const Span& span = across[d];
        double* acc = &out[d * 4];
        for (size_t i = 0; i < span.weights.size(); ++i) {
            const uint8_t* p = source.pixel(span.first + static_cast<int>(i), y);
            const double w = span.weights[i];
            const double alpha = p[3] / 255.0;
            acc[0] += w * p[0] * alpha;
            acc[1] += w * p[1] * alpha;
            acc[2] += w * p[2] * alpha;
            acc[3] += w * p[3];
        }
    }
}

uint8_t toByte(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0l, 255l));
}

void storeRow(const std::vector<double>& acc, RGBAImage& target, int y) {
    for (int x = 0; x < target.width(); ++x) {
        const double* a = &acc[static_cast<size_t>(x) * 4];
        uint8_t* p = target.pixel(x, y);
        const double alpha = a[3] / 255.0;
        for (int c = 0; c < 3; ++c) {
            p[c] = alpha > 0.0 ? toByte(a[c] / alpha) : 0;
        }
        p[3] = toByte(a[3]);
    }
}

}  // namespace

std::optional<RGBAImage> scaleByAreaAverage(const RGBAImage& source, int width, int height) {
    if (source.empty()) {
        return std::nullopt;
    }
    auto target = RGBAImage::blank(width, height);
    if (!target) {
        return std::nullopt;
    }
    const auto across = spansFor(source.width(), width);
    const auto down = spansFor(source.height(), height);
    std::vector<double> acc;
    std::vector<double> row;
    int cachedRow = -1;
    for (int y = 0; y < height; ++y) {
        const Span& span = down[static_cast<size_t>(y)];
        acc.assign(static_cast<size_t>(width) * 4, 0.0);
        for (size_t i = 0; i < span.weights.size(); ++i) {
            const int sourceY = span.first + static_cast<int>(i);
            if (sourceY != cachedRow) {
                resampleRow(source, sourceY, across, row);
                cachedRow = sourceY;
            }
            for (size_t k = 0; k < acc.size(); ++k) {
                acc[k] += span.weights[i] * row[k];
            }
        }
        storeRow(acc, *target, y);
    }
    return target;
}

}  // namespace platform::image
