#include "tests/standins/host_suites.h"

#include <unistd.h>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>

#include "tests/helpers/RunTool.h"

namespace hoststandin {

namespace {

struct FrameBuffer {
    ecRect bounds{};
    int32_t rowBytes = 0;
    std::vector<char> memory;
};

struct HostState {
    Options options;
    SequenceKind kind;
    std::mutex mutex;
    std::map<std::string, int> held;  // suite name -> acquisitions
    int frameBuffers = 0;
    int hostStrings = 0;
    std::set<const std::string*> liveStrings;
    xExportControllerEntryFunc entry = nullptr;
    std::map<std::string, int> calls;  // host call -> times called
    // Shut down (a shut-down has returned, no start-up since), and entry calls under way
    // other than exports (what the plug-in asks in those is its answer to them).
    std::atomic<bool> shutDown{false};
    std::atomic<int> otherEntryCalls{0};
    std::condition_variable heldCallGoAhead;
    bool callWaiting = false;
    bool callMayGoOn = false;
};

HostState& state() {
    static auto* s = new HostState;
    return *s;
}

std::string utf8(const ecUTF16Char* text) {
    if (!text) {
        return "(null)";
    }
    size_t length = 0;
    while (length < 4096 && text[length] != 0) {
        ++length;
    }
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), qsizetype(length))
        .toStdString();
}

const Options& options() {
    return state().options;
}

// Where every host function begins. A plug-in that has been shut down may still free a
// frame buffer or string it was given and release its suites; any other call is
// reported as late. The shut-down moments of --shutdown-in and --shutdown-from-main
// come here.
void hostCall(const std::string& name) {
    HostState& s = state();
    static const std::set<std::string> stillAllowed{"dispose-frame-buffer", "dispose-string",
                                                    "release"};
    if (s.shutDown && s.otherEntryCalls == 0 && !stillAllowed.count(name)) {
        report("late-call " + name);
    }
    int count = 0;
    {
        std::lock_guard lock(s.mutex);
        count = ++s.calls[name];
    }
    const auto now = [&](const ShutdownMoment& moment) {
        return moment.call == name && (moment.nth == 0 || moment.nth == count);
    };
    if (now(options().shutdownIn)) {
        shutDownPlugin();
    }
    if (now(options().shutdownFromMain)) {
        // Held here until the main thread has shut the plug-in down.
        std::unique_lock lock(s.mutex);
        s.callWaiting = true;
        s.heldCallGoAhead.wait(lock, [&s] { return s.callMayGoOn; });
    }
}

// A call scripted to fail: it writes `junk` into its out-parameter first, as a host
// may, and answers an error.
template <class T>
bool failing(const char* call, T* out, T junk) {
    if (!options().failedCalls.count(call)) {
        return false;
    }
    *out = junk;
    report(std::string("failed-call ") + call);
    return true;
}

// ---- the ExportController suite ----

ecStatus queryTimeline(int64_t hostValue, ecTimelineID timeline, void* info) {
    hostCall("query-timeline");
    report("query-timeline host-value-ok=" + std::to_string(hostValue == kHostValue) +
           " timeline=" + std::to_string(timeline));
    if (info) {
        std::memset(info, 0x5A, ecTimelineQuerySize);  // the record is the host's to fill
    }
    return ecStatusNoError;
}

ecStatus render(const std::string& output, const std::string& preset) {
    std::string problem;
    const auto settings = readRenderPreset(preset, &problem);
    if (!settings) {
        report("render-preset-unreadable " + quoted(problem));
        return -3;
    }
    const SequenceKind& kind = state().kind;
    const std::string rate = std::to_string(kind.scale) + "/" + std::to_string(kind.sampleSize);
    const std::string size =
        std::to_string(options().width) + "x" + std::to_string(options().height);
    QStringList args{"-hide_banner",
                     "-loglevel",
                     "error",
                     "-nostdin",
                     "-y",
                     "-f",
                     "lavfi",
                     "-i",
                     QString::fromStdString("testsrc2=size=" + size + ":rate=" + rate)};
    if (settings->audioCodec != "none") {
        args << "-f"
             << "lavfi"
             << "-i"
             << "sine=frequency=1000:sample_rate=48000";
    }
    args << "-frames:v" << QString::number(options().frames) << "-c:v"
         << QString::fromStdString(settings->videoCodec) << "-pix_fmt"
         << QString::fromStdString(settings->pixelFormat);
    if (settings->videoCodec == "libx264") {
        args << "-preset" << QString::fromStdString(settings->speed) << "-crf"
             << QString::fromStdString(settings->quality);
    }
    if (settings->audioCodec != "none") {
        args << "-c:a" << QString::fromStdString(settings->audioCodec) << "-shortest";
    }
    args << "-f" << QString::fromStdString(settings->container) << QString::fromStdString(output);
    std::vector<std::string> argv{"ffmpeg"};
    for (const QString& arg : args) {
        argv.push_back(arg.toStdString());
    }
    if (testsupport::runTool(argv).status != 0) {
        report("render-ffmpeg-failed");
        return -2;
    }
    return ecStatusNoError;
}

ecStatus renderTimelineToFile(int64_t hostValue, ecTimelineID timeline,
                              const ecRenderPathsRec* paths) {
    if (!paths) {
        return -4;
    }
    hostCall("render");
    const std::string output = utf8(paths->outputFile);
    const std::string preset = utf8(paths->presetFile);
    ecStatus status = 0;
    if (hostValue != kHostValue || timeline != kTimelineID) {
        status = -5;
    } else if (options().renderStatus && *options().renderStatus < 0) {
        status = *options().renderStatus;
        if (options().renderPartial) {
            // Broken off midway: the start of a movie is on disk.
            std::ofstream(output, std::ios::binary) << std::string(64 * 1024, '\x42');
        }
    } else {
        status = render(output, preset);
        if (status == 0 && options().renderStatus) {
            status = *options().renderStatus;
        }
    }
    report("render output=" + quoted(output) + " preset=" + quoted(preset) +
           " status=" + std::to_string(status));
    return status;
}

const ExportControllerSuite kExportController{queryTimeline, renderTimelineToFile};
const ExportInfoSuite kExportInfo{nullptr};

// ---- the error suite ----

ecStatus reportEvent(uint32_t type, const ecUTF16Char* title, const ecUTF16Char* text) {
    hostCall("error-event");
    report("error-event type=" + std::to_string(type) + " title=" + quoted(utf8(title)) +
           " text=" + quoted(utf8(text)));
    return ecStatusNoError;
}
const ErrorSuite kError{reportEvent};

// ---- sequence information and time ----

ecStatus frameBounds(ecTimelineID, ecRect* bounds) {
    hostCall("frame-bounds");
    if (failing("frame-bounds", bounds, ecRect{0, 0, 64, 64})) {
        return -1;
    }
    *bounds = ecRect{0, 0, int16_t(options().height), int16_t(options().width)};
    return ecStatusNoError;
}
ecStatus frameValues(ecTimelineID, uint32_t* first, uint32_t* second) {
    hostCall("frame-values");
    *first = 1;  // square pixels
    *second = 1;
    return ecStatusNoError;
}
ecStatus frameRate(ecTimelineID, ecTicks* ticksPerFrame) {
    hostCall("frame-rate");
    if (failing("frame-rate", ticksPerFrame, ecTicks{kTicksPerSecond / 60})) {
        return -1;
    }
    *ticksPerFrame = state().kind.ticksPerFrame;
    return ecStatusNoError;
}
ecStatus zeroPoint(ecTimelineID, ecTicks* zero) {
    hostCall("zero-point");
    if (failing("zero-point", zero, ecTicks{(4943 * 60 + 10) * (kTicksPerSecond / 60)})) {
        return -1;
    }
    *zero = *timecodeFrames(options().zeroTimecode, state().kind) * state().kind.ticksPerFrame;
    return ecStatusNoError;
}
ecStatus dropFrame(ecTimelineID, int32_t* drop) {
    hostCall("drop-frame");
    if (failing("drop-frame", drop, int32_t{1})) {
        return -1;
    }
    *drop = state().kind.dropFrame ? 1 : 0;
    return ecStatusNoError;
}
const SequenceInfoSuite kSequenceInfo{frameBounds, frameValues, frameRate,
                                      nullptr,     zeroPoint,   dropFrame};

ecStatus ticksPerSecond(ecTicks* ticks) {
    hostCall("ticks-per-second");
    // Junk that a sequence of any rate would read as 60 frames per second.
    if (failing("ticks-per-second", ticks, ecTicks{state().kind.ticksPerFrame * 60})) {
        return -1;
    }
    *ticks = kTicksPerSecond;
    return ecStatusNoError;
}
ecStatus ticksPerVideoFrame(int32_t code, ecTicks* ticks) {
    hostCall("ticks-per-video-frame");
    static const std::map<int32_t, std::pair<int64_t, int64_t>> rates{
        {ecVideoRate24, {24, 1}}, {ecVideoRate23976, {24000, 1001}}, {ecVideoRate25, {25, 1}},
        {ecVideoRate30, {30, 1}}, {ecVideoRate2997, {30000, 1001}},  {ecVideoRate50, {50, 1}},
        {ecVideoRate60, {60, 1}}, {ecVideoRate5994, {60000, 1001}}};
    const auto rate = rates.find(code);
    if (rate == rates.end()) {
        return -1;
    }
    *ticks = kTicksPerSecond * rate->second.second / rate->second.first;
    return ecStatusNoError;
}
const TimeSuite kTime{ticksPerSecond, ticksPerVideoFrame};

// ---- application settings and strings ----

// A host string holds the address of its text in its first opaque word. One the host
// never made (or has freed) is reported and not touched.
std::string* stringOf(const ecHostString* string, const char* use) {
    std::string* text = nullptr;
    std::memcpy(&text, &string->opaque[0], sizeof text);
    std::lock_guard lock(state().mutex);
    if (!state().liveStrings.count(text)) {
        report(std::string("unknown-string ") + use);
        return nullptr;
    }
    return text;
}
void setString(ecHostString* string, std::string* text) {
    std::memcpy(&string->opaque[0], &text, sizeof text);
}

ecStatus projectPath(ecHostString* path) {
    hostCall("project-path");
    if (options().projectInvalidCall) {
        return ecStatusInvalidCall;  // no string is made
    }
    std::memset(path, 0, sizeof *path);
    auto* text = new std::string(options().project);
    setString(path, text);
    std::lock_guard lock(state().mutex);
    state().liveStrings.insert(text);
    ++state().hostStrings;
    return ecStatusNoError;
}
const AppSettingsSuite kAppSettings{nullptr, projectPath};

ecStatus disposeString(ecHostString* string) {
    hostCall("dispose-string");
    std::string* text = stringOf(string, "dispose");
    if (!text) {
        return -1;
    }
    {
        std::lock_guard lock(state().mutex);
        state().liveStrings.erase(text);
        --state().hostStrings;
    }
    delete text;
    setString(string, nullptr);
    return ecStatusNoError;
}
ecStatus copyToUTF8(const ecHostString* string, char* buffer, uint32_t* size) {
    hostCall("copy-string");
    const std::string* text = stringOf(string, "copy");
    if (!text || !size) {
        return -1;
    }
    const uint32_t needed = uint32_t(text->size() + 1);
    if (!buffer) {
        *size = needed;
        return ecStatusNoError;
    }
    if (*size < needed) {
        return -1;
    }
    std::memcpy(buffer, text->c_str(), needed);
    return ecStatusNoError;
}
const StringSuite kString{disposeString, nullptr, copyToUTF8};

// ---- frame buffers ----

FrameBuffer* frameOf(ecPPixHand hand) {
    return reinterpret_cast<FrameBuffer*>(hand);
}

ecStatus disposePPix(ecPPixHand frame) {
    hostCall("dispose-frame-buffer");
    delete frameOf(frame);
    std::lock_guard lock(state().mutex);
    --state().frameBuffers;
    return ecStatusNoError;
}
ecStatus ppixPixels(ecPPixHand frame, int32_t, char** pixels) {
    hostCall("pixels");
    *pixels = frameOf(frame)->memory.data();
    return ecStatusNoError;
}
ecStatus ppixRowBytes(ecPPixHand frame, int32_t* rowBytes) {
    hostCall("row-bytes");
    *rowBytes = frameOf(frame)->rowBytes;
    return ecStatusNoError;
}
const PPixSuite kPPix{disposePPix, ppixPixels, nullptr, ppixRowBytes};

ecStatus createPPix(ecPPixHand* frame, int32_t mode, uint32_t format, const ecRect* bounds) {
    hostCall("frame-buffer");
    *frame = nullptr;
    const int width = bounds->right - bounds->left;
    const int height = bounds->bottom - bounds->top;
    report("create-frame-buffer mode=" + std::to_string(mode) +
           " format-bgra=" + std::to_string(format == ecPixelFormatBGRA) +
           " size=" + std::to_string(width) + "x" + std::to_string(height));
    if (options().failFrameBuffer || width <= 0 || height <= 0 || format != ecPixelFormatBGRA) {
        return -1;
    }
    auto buffer = std::make_unique<FrameBuffer>();
    buffer->bounds = *bounds;
    buffer->rowBytes = width * 4 + options().rowPadding;
    // Padding the plug-in must step over is marked so that reading it shows.
    buffer->memory.assign(size_t(buffer->rowBytes) * size_t(height), char(0xCD));
    *frame = reinterpret_cast<ecPPixHand>(buffer.release());
    std::lock_guard lock(state().mutex);
    ++state().frameBuffers;
    return ecStatusNoError;
}
const PPixCreatorSuite kPPixCreator{createPPix};

// ---- the broker ----

const std::map<std::string, std::pair<int32_t, const void*>>& suiteTable() {
    static const std::map<std::string, std::pair<int32_t, const void*>> table{
        {kExportControllerSuite, {kExportControllerSuiteVersion, &kExportController}},
        {kExportInfoSuite, {kExportInfoSuiteVersion, &kExportInfo}},
        {kErrorSuite, {kErrorSuiteVersion, &kError}},
        {kSequenceInfoSuite, {kSequenceInfoSuiteVersion, &kSequenceInfo}},
        {kTimeSuite, {kTimeSuiteVersion, &kTime}},
        {kAppSettingsSuite, {kAppSettingsSuiteVersion, &kAppSettings}},
        {kStringSuite, {kStringSuiteVersion, &kString}},
        {kPPixSuite, {kPPixSuiteVersion, &kPPix}},
        {kPPixCreatorSuite, {kPPixCreatorSuiteVersion, &kPPixCreator}}};
    return table;
}

ecStatus acquireSuite(const char* name, int32_t version, const void** suite) {
    hostCall("acquire");
    *suite = nullptr;
    const auto found = suiteTable().find(name ? name : "");
    std::string outcome = "ok";
    if (found == suiteTable().end() || found->second.first != version) {
        outcome = "unknown";
    } else if (options().older.count(name)) {
        outcome = "older";
    } else if (options().withheld.count(name)) {
        outcome = "withheld";
    } else {
        *suite = found->second.second;
        std::lock_guard lock(state().mutex);
        ++state().held[name];
    }
    report("acquire " + quoted(name ? name : "") + " " + std::to_string(version) + " " + outcome);
    return *suite ? ecStatusNoError : -1;
}

ecStatus releaseSuite(const char* name, int32_t version) {
    hostCall("release");
    std::string outcome = "ok";
    {
        std::lock_guard lock(state().mutex);
        auto held = state().held.find(name ? name : "");
        if (held == state().held.end() || held->second == 0) {
            outcome = "not-held";
        } else {
            --held->second;
        }
    }
    report("release " + quoted(name ? name : "") + " " + std::to_string(version) + " " + outcome);
    return outcome == "ok" ? ecStatusNoError : -1;
}

ecSuiteBroker gBroker{acquireSuite, releaseSuite};
ecSuiteBroker* getSuiteBroker() {
    hostCall("suite-broker");
    return &gBroker;
}

// ---- timeline functions ----

ecStatus currentPosition(ecTimelineID, ecTicks* position) {
    hostCall("current-position");
    if (failing("current-position", position, ecTicks{1000003 * state().kind.ticksPerFrame})) {
        return -1;
    }
    *position = options().positionFrame * state().kind.ticksPerFrame;
    return ecStatusNoError;
}

// An upright picture no turn or mirror leaves unchanged: four quadrants, red top left,
// green top right, blue bottom left, white bottom right.
void paintQuadrants(FrameBuffer& frame) {
    const int width = frame.bounds.right - frame.bounds.left;
    const int height = frame.bounds.bottom - frame.bounds.top;
    for (int y = 0; y < height; ++y) {
        // Rows are kept bottom first: picture row y lives in memory row height-1-y.
        auto* row = reinterpret_cast<uint8_t*>(frame.memory.data()) +
                    size_t(height - 1 - y) * size_t(frame.rowBytes);
        for (int x = 0; x < width; ++x) {
            const bool top = y < height / 2;
            const bool left = x < width / 2;
            uint8_t r = 0, g = 0, b = 0;
            if (top && left) {
                r = 255;
            } else if (top) {
                g = 255;
            } else if (left) {
                b = 255;
            } else {
                r = g = b = 255;
            }
            uint8_t* p = row + size_t(x) * 4;
            p[0] = b;
            p[1] = g;
            p[2] = r;
            p[3] = 255;
        }
    }
}

ecStatus renderFrame(ecTimelineID timeline, ecTicks position, ecPPixHand frame,
                     const ecRect* bounds, uint32_t format, int32_t o1, int32_t o2, int32_t o3,
                     int32_t o4) {
    hostCall("frame-render");
    report("render-frame timeline=" + std::to_string(timeline) +
           " position=" + std::to_string(position) + " options=" + std::to_string(o1) +
           std::to_string(o2) + std::to_string(o3) + std::to_string(o4));
    if (!frame || !bounds || format != ecPixelFormatBGRA || options().failFrameRender) {
        return -1;
    }
    paintQuadrants(*frameOf(frame));
    return ecStatusNoError;
}

const ecUtilityFuncs kUtility{{}, getSuiteBroker};
const ecTimelineFuncs kTimeline{{}, currentPosition, {}, renderFrame};
const ecTimelineFuncs kTimelineWithoutFrames{{}, currentPosition, {}, nullptr};
ecHostCallbacks gCallbacks{&kUtility, &kTimeline};
ecStdParms gStdParms{&gCallbacks};

bool safeValue(const std::string& value) {
    if (value.empty() || value.size() > 32) {
        return false;
    }
    for (char c : value) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.') {
            return false;
        }
    }
    return true;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

}  // namespace

void configureHost(const Options& o) {
    state().options = o;
    state().kind = *sequenceKind(o.sequence);
    gCallbacks.timelineFuncs = o.noFrameRender ? &kTimelineWithoutFrames : &kTimeline;
}

ecStdParms* stdParms() {
    return &gStdParms;
}

void setPluginEntry(xExportControllerEntryFunc entry) {
    state().entry = entry;
}

ecStatus callPlugin(int32_t selector, void* record) {
    if (selector == ecStartup) {
        state().shutDown = false;
    }
    ++state().otherEntryCalls;
    const ecStatus status = state().entry(selector, stdParms(), record);
    if (selector == ecShutdown) {
        state().shutDown = true;
    }
    --state().otherEntryCalls;
    return status;
}

void shutDownPlugin() {
    const ecStatus status = callPlugin(ecShutdown, nullptr);
    report("shutdown status=" + std::to_string(status) +
           " suites-held=" + std::to_string(suitesHeld()));
}

bool callAwaitsShutdown() {
    std::lock_guard lock(state().mutex);
    return state().callWaiting && !state().callMayGoOn;
}

void letHeldCallGoOn() {
    {
        std::lock_guard lock(state().mutex);
        state().callMayGoOn = true;
    }
    state().heldCallGoAhead.notify_all();
}

void report(const std::string& text) {
    const std::string line = "host: " + text + "\n";
    (void)!::write(1, line.data(), line.size());
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c == '\n' ? ' ' : c;
    }
    return out + "\"";
}

int suitesHeld() {
    std::lock_guard lock(state().mutex);
    int held = 0;
    for (const auto& [name, count] : state().held) {
        held += count;
    }
    return held;
}

int frameBuffersAlive() {
    std::lock_guard lock(state().mutex);
    return state().frameBuffers;
}

int hostStringsAlive() {
    std::lock_guard lock(state().mutex);
    return state().hostStrings;
}

std::optional<RenderPreset> readRenderPreset(const std::string& path, std::string* problem) {
    std::ifstream in(path);
    if (!in) {
        *problem = "cannot open " + path;
        return std::nullopt;
    }
    RenderPreset preset;
    const std::map<std::string, std::string*> keys{{"container", &preset.container},
                                                   {"video_codec", &preset.videoCodec},
                                                   {"pixel_format", &preset.pixelFormat},
                                                   {"quality", &preset.quality},
                                                   {"speed", &preset.speed},
                                                   {"audio_codec", &preset.audioCodec}};
    std::string line;
    size_t total = 0;
    while (std::getline(in, line)) {
        total += line.size() + 1;
        if (total > 64 * 1024) {
            *problem = "preset too large";
            return std::nullopt;
        }
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty()) {
            continue;
        }
        const auto equals = line.find('=');
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value =
            equals == std::string::npos ? "" : trimmed(line.substr(equals + 1));
        const auto field = keys.find(key);
        if (field == keys.end() || !safeValue(value)) {
            *problem = "bad preset line: " + line;
            return std::nullopt;
        }
        *field->second = value;
    }
    return preset;
}

}  // namespace hoststandin
