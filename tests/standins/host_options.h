#pragma once
// The host stand-in's command line: which plug-in to load, the project and sequence it
// pretends to have open, what it withholds or fails on purpose, how its scripted user
// answers the plug-in's windows, and the steps to run. See host_main.cpp for the list.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace hoststandin {

enum class SettingsAnswer { Export, Cancel, None };

// The moment a shut-down comes: the `nth` call of the host function `call` (0: each of
// its calls; names as in the "late-call" reports), or "settings": the window is up.
struct ShutdownMoment {
    std::string call;
    int nth = 0;
};

struct Options {
    std::string plugin;   // bundle folder or library file
    std::string project;  // project path; empty: never saved
    bool projectInvalidCall = false;
    std::string sequence = "25";  // 25, 29.97df, 29.97, 23.976, 59.94
    int width = 320;
    int height = 180;
    int64_t frames = 48;
    std::string zeroTimecode = "00:00:00:00";
    int64_t positionFrame = 0;
    int rowPadding = 48;  // bytes after each row of a frame buffer
    std::set<std::string> withheld;
    std::set<std::string> older;          // suites the host has only in an earlier version
    std::optional<int32_t> renderStatus;  // negative: fail without writing
    bool renderPartial = false;           // a failing render writes part of the movie first
    bool failFrameBuffer = false;
    bool failFrameRender = false;  // the frame render answers an error, leaving the buffer
    bool noFrameRender = false;    // the timeline functions offer no frame render
    bool exportOnThread = false;
    ShutdownMoment shutdownIn;          // selector 7 from inside that host call
    ShutdownMoment shutdownFromMain;    // selector 7 from the main thread at that moment
    std::set<std::string> failedCalls;  // timing calls that fail after writing junk
    SettingsAnswer answer = SettingsAnswer::Export;
    double measureSeconds = 1.0;  // CPU measured while the settings window waits
    std::string screenshot;
    double timeoutSeconds = 150;
    double idleTimeoutSeconds = 120;
    std::vector<std::string> steps;
};

// Fills `options` from the arguments; an error text when they make no sense.
std::optional<std::string> parseOptions(const std::vector<std::string>& args, Options& options);
std::string usage();

// A sequence preset of the stand-in: its frame length in ticks and timecode kind.
struct SequenceKind {
    std::string name;
    int64_t ticksPerFrame = 0;
    int64_t scale = 0;  // frames per second = scale / sampleSize
    int64_t sampleSize = 1;
    int nominalFps = 0;  // timecode frames per second
    bool dropFrame = false;
};
inline constexpr int64_t kTicksPerSecond = 254016000000;
std::optional<SequenceKind> sequenceKind(const std::string& name);
// The frame count of a timecode "HH:MM:SS:FF" (";" before FF for drop-frame) in `kind`.
std::optional<int64_t> timecodeFrames(const std::string& timecode, const SequenceKind& kind);

}  // namespace hoststandin
