#include "tests/standins/host_options.h"

#include <charconv>
#include <cstdio>

namespace hoststandin {

namespace {

template <class T>
bool number(const std::string& text, T& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

bool size(const std::string& text, int& width, int& height) {
    const auto x = text.find('x');
    return x != std::string::npos && number(text.substr(0, x), width) &&
           number(text.substr(x + 1), height) && width > 0 && height > 0 && width <= 4096 &&
           height <= 4096;
}

// "CALL" (each of its calls) or "CALL:N" (the Nth), CALL one of the host calls a
// shut-down may come in.
bool shutdownMoment(const std::string& text, ShutdownMoment& moment) {
    static const std::set<std::string> calls{"render",           "frame-render",
                                             "frame-bounds",     "frame-buffer",
                                             "current-position", "ticks-per-second"};
    const auto colon = text.find(':');
    moment.call = text.substr(0, colon);
    moment.nth = 0;
    return calls.count(moment.call) &&
           (colon == std::string::npos ||
            (number(text.substr(colon + 1), moment.nth) && moment.nth >= 1));
}

}  // namespace

std::string usage() {
    return "usage: quorv_host --plugin PATH [options] [step ...]\n"
           "steps: startup export shutdown idle selector:N (default: startup export idle "
           "shutdown)\n";
}

std::optional<SequenceKind> sequenceKind(const std::string& name) {
    // Frame lengths in ticks of 1/254016000000 s.
    if (name == "25") {
        return SequenceKind{name, kTicksPerSecond / 25, 25, 1, 25, false};
    }
    if (name == "29.97df" || name == "29.97") {
        return SequenceKind{
            name, kTicksPerSecond * 1001 / 30000, 30000, 1001, 30, name == "29.97df"};
    }
    if (name == "23.976") {
        return SequenceKind{name, kTicksPerSecond * 1001 / 24000, 24000, 1001, 24, false};
    }
    if (name == "59.94") {
        return SequenceKind{name, kTicksPerSecond * 1001 / 60000, 60000, 1001, 60, false};
    }
    return std::nullopt;
}

std::optional<int64_t> timecodeFrames(const std::string& timecode, const SequenceKind& kind) {
    int h = 0, m = 0, s = 0, f = 0;
    char sep = 0;
    if (std::sscanf(timecode.c_str(), "%2d:%2d:%2d%c%2d", &h, &m, &s, &sep, &f) != 5 ||
        (sep != ':' && sep != ';') || m > 59 || s > 59 || f >= kind.nominalFps || h < 0 || m < 0 ||
        s < 0 || f < 0) {
        return std::nullopt;
    }
    const int64_t minutes = int64_t(h) * 60 + m;
    int64_t frames = (minutes * 60 + s) * kind.nominalFps + f;
    if (kind.dropFrame) {
        // Two frame numbers (four at 60) dropped every minute but each tenth.
        const int64_t drop = kind.nominalFps / 15;
        frames -= drop * (minutes - minutes / 10);
    }
    return frames;
}

std::optional<std::string> parseOptions(const std::vector<std::string>& args, Options& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--plugin" && value(o.plugin)) {
        } else if (a == "--project" && value(o.project)) {
        } else if (a == "--project-invalid-call") {
            o.projectInvalidCall = true;
        } else if (a == "--sequence" && value(o.sequence)) {
            if (!sequenceKind(o.sequence)) {
                return "unknown sequence " + o.sequence;
            }
        } else if (a == "--size" && value(v)) {
            if (!size(v, o.width, o.height)) {
                return "bad size " + v;
            }
        } else if (a == "--frames" && value(v)) {
            if (!number(v, o.frames) || o.frames <= 0 || o.frames > 100000) {
                return "bad frame count " + v;
            }
        } else if (a == "--zero-timecode" && value(o.zeroTimecode)) {
        } else if (a == "--position-frame" && value(v)) {
            if (!number(v, o.positionFrame) || o.positionFrame < 0) {
                return "bad position " + v;
            }
        } else if (a == "--row-padding" && value(v)) {
            if (!number(v, o.rowPadding) || o.rowPadding < 0 || o.rowPadding > 4096) {
                return "bad row padding " + v;
            }
        } else if (a == "--withhold" && value(v)) {
            o.withheld.insert(v);
        } else if (a == "--older" && value(v)) {
            o.older.insert(v);
        } else if (a == "--render-partial") {
            o.renderPartial = true;
        } else if (a == "--fail-frame-render") {
            o.failFrameRender = true;
        } else if (a == "--no-frame-render") {
            o.noFrameRender = true;
        } else if (a == "--render-status" && value(v)) {
            int32_t status = 0;
            if (!number(v, status)) {
                return "bad render status " + v;
            }
            o.renderStatus = status;
        } else if (a == "--fail-frame-buffer") {
            o.failFrameBuffer = true;
        } else if (a == "--export-on-thread") {
            o.exportOnThread = true;
        } else if (a == "--shutdown-in" && value(v)) {
            if (!shutdownMoment(v, o.shutdownIn)) {
                return "bad shutdown moment " + v;
            }
        } else if (a == "--shutdown-from-main" && value(v)) {
            if (v == "settings") {
                o.shutdownFromMain = {v, 0};
            } else if (!shutdownMoment(v, o.shutdownFromMain)) {
                return "bad shutdown moment " + v;
            } else {
                // A host call held for the main thread cannot run on it.
                o.exportOnThread = true;
            }
        } else if (a == "--fail-call" && value(v)) {
            static const std::set<std::string> calls{"frame-bounds",     "frame-rate",
                                                     "zero-point",       "drop-frame",
                                                     "ticks-per-second", "current-position"};
            if (!calls.count(v)) {
                return "unknown call " + v;
            }
            o.failedCalls.insert(v);
        } else if (a == "--answer" && value(v)) {
            if (v == "export") {
                o.answer = SettingsAnswer::Export;
            } else if (v == "cancel") {
                o.answer = SettingsAnswer::Cancel;
            } else if (v == "none") {
                o.answer = SettingsAnswer::None;
            } else {
                return "bad answer " + v;
            }
        } else if (a == "--measure-seconds" && value(v)) {
            if (!number(v, o.measureSeconds) || o.measureSeconds < 0 || o.measureSeconds > 60) {
                return "bad measuring time " + v;
            }
        } else if (a == "--screenshot" && value(o.screenshot)) {
        } else if (a == "--timeout" && value(v)) {
            if (!number(v, o.timeoutSeconds) || o.timeoutSeconds <= 0) {
                return "bad timeout " + v;
            }
        } else if (a.rfind("--", 0) == 0) {
            return "unknown or incomplete option " + a;
        } else {
            o.steps.push_back(a);
        }
    }
    if (o.plugin.empty()) {
        return std::string("--plugin is required");
    }
    if (!timecodeFrames(o.zeroTimecode, *sequenceKind(o.sequence))) {
        return "bad zero timecode " + o.zeroTimecode;
    }
    if (o.steps.empty()) {
        o.steps = {"startup", "export", "idle", "shutdown"};
    }
    return std::nullopt;
}

}  // namespace hoststandin
