#include "apps/export_plugin/SequenceTiming.h"

#include <initializer_list>

namespace exportplugin {

void ConvertPrTimeToScaleSampleSize(const TimeSuite* timeSuite, ecTicks ticksPerFrame,
                                    int64_t* scale, int64_t* sampleSize, const HostCalls& host) {
    if (!timeSuite || !timeSuite->GetTicksPerSecond || ticksPerFrame <= 0) {
        return;
    }
    const ecTicks ticksPerSecond = host.answerOr(
        ecTicks{0}, [&](ecTicks* ticks) { return timeSuite->GetTicksPerSecond(ticks); });
    if (ticksPerSecond > 0 && ticksPerSecond % ticksPerFrame == 0) {
        *scale = ticksPerSecond / ticksPerFrame;
        *sampleSize = 1;
        return;
    }
    if (!timeSuite->GetTicksPerVideoFrame) {
        return;
    }
    struct NtscRate {
        int32_t code;
        int64_t scale;
    };
    // Every code is asked; a later match wins.
    for (const NtscRate rate : {NtscRate{ecVideoRate2997, 30000}, NtscRate{ecVideoRate5994, 60000},
                                NtscRate{ecVideoRate23976, 24000}}) {
        const ecTicks ticks = host.answerOr(ecTicks{0}, [&](ecTicks* out) {
            return timeSuite->GetTicksPerVideoFrame(rate.code, out);
        });
        if (ticks == ticksPerFrame) {
            *scale = rate.scale;
            *sampleSize = 1001;
        }
    }
}

float SequenceTiming::fps() const {
    return scale > 0 && sampleSize > 0 ? float(scale) / float(sampleSize) : 0.0f;
}

int64_t SequenceTiming::zeroPointFrames() const {
    return ticksPerFrame > 0 ? zeroPoint / ticksPerFrame : 0;
}

SequenceTiming readSequenceTiming(const SequenceInfoSuite* sequenceInfo, const TimeSuite* time,
                                  ecTimelineID timeline, const HostCalls& host) {
    SequenceTiming timing;
    if (!sequenceInfo) {
        return timing;
    }
    if (sequenceInfo->GetFrameBounds) {
        timing.bounds = host.answerOr(ecRect{}, [&](ecRect* bounds) {
            return sequenceInfo->GetFrameBounds(timeline, bounds);
        });
    }
    if (sequenceInfo->GetFrameValues) {
        uint32_t first = 0;
        uint32_t second = 0;
        host.call([&] { return sequenceInfo->GetFrameValues(timeline, &first, &second); });
    }
    if (sequenceInfo->GetFrameRate) {
        timing.ticksPerFrame = host.answerOr(ecTicks{0}, [&](ecTicks* ticks) {
            return sequenceInfo->GetFrameRate(timeline, ticks);
        });
    }
    ConvertPrTimeToScaleSampleSize(time, timing.ticksPerFrame, &timing.scale, &timing.sampleSize,
                                   host);
    if (sequenceInfo->GetZeroPoint) {
        timing.zeroPoint = host.answerOr(
            ecTicks{0}, [&](ecTicks* zero) { return sequenceInfo->GetZeroPoint(timeline, zero); });
    }
    if (sequenceInfo->GetTimecodeDropFrame) {
        timing.dropFrame = host.answerOr(int32_t{0}, [&](int32_t* drop) {
            return sequenceInfo->GetTimecodeDropFrame(timeline, drop);
        }) != 0;
    }
    return timing;
}

}  // namespace exportplugin
