#pragma once
// The timing of the sequence being exported, as the settings record takes it.
#include <cstdint>

#include "apps/export_plugin/HostSuites.h"

namespace exportplugin {

// Scale and sample size (scale / sample size = frames per second) of a sequence with
// `ticksPerFrame`: exact when a second holds a whole number of frames, otherwise the
// NTSC rate (30000, 60000 or 24000 over 1001) whose frame has the same ticks. With no
// match, no time suite, or once `host` has stopped, the outputs keep the values they
// came with.
void ConvertPrTimeToScaleSampleSize(const TimeSuite* timeSuite, ecTicks ticksPerFrame,
                                    int64_t* scale, int64_t* sampleSize,
                                    const HostCalls& host = {});

struct SequenceTiming {
    ecRect bounds{};
    ecTicks ticksPerFrame = 0;
    int64_t scale = 0;
    int64_t sampleSize = 0;
    ecTicks zeroPoint = 0;
    bool dropFrame = false;

    // Frames per second; 0 when no rate was found.
    float fps() const;
    // The first frame's timecode as a frame count; 0 when the frame length is unknown.
    int64_t zeroPointFrames() const;
};

// What the sequence-info and time suites say of `timeline`; all zero without the
// sequence-info suite. Once `host` has stopped, nothing more is asked and the rest stays
// unknown.
SequenceTiming readSequenceTiming(const SequenceInfoSuite* sequenceInfo, const TimeSuite* time,
                                  ecTimelineID timeline, const HostCalls& host = {});

}  // namespace exportplugin
