#pragma once
// The host side of the export-controller interface: the suite broker, the nine suites,
// the utility and timeline functions, frame buffers and host strings. Every call the
// plug-in makes is reported on standard output as a line beginning "host: ".
#include <string>

#include "apps/export_plugin/include/ExportControllerHost.h"
#include "tests/standins/host_options.h"

namespace hoststandin {

// The value the host hands the plug-in with each export; it must come back unchanged.
inline constexpr int64_t kHostValue = 0x51C0FFEE7A11D00DLL;
inline constexpr ecTimelineID kTimelineID = 7;

// Sets the host up for `options`; call once before using stdParms().
void configureHost(const Options& options);
ecStdParms* stdParms();

// The plug-in's entry point, for the host functions that call back into it.
void setPluginEntry(xExportControllerEntryFunc entry);
// Any selector but an export's (1): a start-up (0) ends the time in which calls into the
// host are late, a shut-down (7) begins it once it returns.
ecStatus callPlugin(int32_t selector, void* record);
// Selector 7, reported as "shutdown status=N suites-held=M".
void shutDownPlugin();
// With --shutdown-from-main CALL: whether that host call is waiting for the main
// thread's shut-down, and the go-ahead it waits for.
bool callAwaitsShutdown();
void letHeldCallGoOn();

// One report line on standard output ("host: " + text).
void report(const std::string& text);
// A quoted form of `text` for report lines.
std::string quoted(const std::string& text);

// Suites acquired and not released, frame buffers and host strings not freed.
int suitesHeld();
int frameBuffersAlive();
int hostStringsAlive();

// The render settings read from a preset file: "key = value" lines, "#" comments.
struct RenderPreset {
    std::string container = "mp4";
    std::string videoCodec = "libx264";
    std::string pixelFormat = "yuv420p";
    std::string quality = "23";
    std::string speed = "veryfast";
    std::string audioCodec = "none";
};
// None when the file is missing, too large, or has an unknown key or an unsafe value.
std::optional<RenderPreset> readRenderPreset(const std::string& path, std::string* problem);

}  // namespace hoststandin
