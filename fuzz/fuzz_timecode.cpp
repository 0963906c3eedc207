// Timecode text from users and from media files: the field reader and the typed
// shorthand must accept anything without crashing and always give well-formed output.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/OWTimecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const bool dropFrame = data[0] & 1;
    const int64_t timebase = static_cast<int8_t>(data[1]);
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    const size_t half = text.size() / 2;

    const int64_t n = OWTimecode::frameCountFromTimecode(text, timebase, false, dropFrame, 0);
    const std::string label = OWTimecode::timecodeFromFrameCount(n, timebase, false, dropFrame, 0);
    if (label.size() < 11)
        abort();  // frames reach three digits above 100 fps
    // A label read back gives the same label.
    const int64_t again = OWTimecode::frameCountFromTimecode(label, timebase, false, dropFrame, 0);
    if (OWTimecode::timecodeFromFrameCount(again, timebase, false, dropFrame, 0) != label)
        abort();

    const std::string typed =
        OWTimecode::timecodeFromUserString(text.substr(0, half), dropFrame, text.substr(half));
    (void)OWTimecode::frameCountFromTimecode(typed, timebase, false, dropFrame, -1);
    (void)OWTimecode::subtractTimecode(text.substr(0, half), text.substr(half), timebase, false,
                                       dropFrame);
    (void)OWTimecode::timecodeInRange(text, text.substr(0, half), text.substr(half));
    return 0;
}
