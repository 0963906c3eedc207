// quorv_host: a stand-in for the video editor that loads the export plug-in. It opens
// the plug-in with dlopen, offers every suite and host callback of the export-controller
// interface, and runs the steps named on its command line:
//   startup      selector 0; reports the menu name the plug-in wrote
//   export       selector 1 for the stand-in's one timeline; reports the status
//   shutdown     selector 7; reports the suites still held
//   selector:N   any selector, with no record
//   idle         waits until every window of the plug-in has closed (its upload ended)
// (default: startup export idle shutdown). Everything the plug-in does through the host
// is reported on standard output in lines beginning "host: "; the plug-in's console
// lines go to the same stream. A host string used that the host never made (or has
// freed) is reported as "unknown-string". Once a shut-down has returned, and until the
// next start-up, every call into the host but freeing a frame buffer or host string or
// releasing a suite is reported as "late-call NAME" (NAME as in the shut-down moments
// below, or query-timeline, error-event, frame-values, frame-rate, zero-point,
// drop-frame, ticks-per-video-frame, project-path, copy-string, pixels, row-bytes,
// suite-broker, acquire).
//
// Options:
//   --plugin PATH            the plug-in's bundle folder or library (required)
//   --project PATH           the open project's path (default: never saved, empty)
//   --project-invalid-call   the project path call fails with the invalid-call status
//   --sequence RATE          25, 29.97df, 29.97, 23.976 or 59.94 (time base 254016000000
//                            ticks per second)
//   --size WxH               frame size (default 320x180)
//   --frames N               sequence length in frames (default 48)
//   --zero-timecode TC       timecode of the first frame, "HH:MM:SS:FF" or ";FF"
//   --position-frame N       current position, in frames
//   --row-padding N          bytes after each row of a frame buffer (default 48)
//   --withhold NAME          the broker refuses the suite NAME (repeatable)
//   --older NAME             the host has NAME only in an earlier version and refuses
//                            the version asked for (repeatable)
//   --render-status N        a negative N fails the render with N, writing nothing; a
//                            non-negative one is returned after a real render
//   --render-partial         a failing render writes part of the movie before it fails
//   --fail-frame-buffer      the PPix creator makes no frame buffer
//   --fail-frame-render      the frame render answers an error, leaving the buffer as is
//   --no-frame-render        the timeline functions offer no frame render
//   --export-on-thread       calls the export from a second thread
//   --shutdown-in CALL[:N]   calls selector 7 from inside each call of CALL (only the
//                            Nth with :N), which then goes on and answers as it would
//                            have. CALL: render, frame-render, frame-bounds (the timing
//                            read asks first, the thumbnail second), frame-buffer (its
//                            creation), current-position or ticks-per-second
//   --shutdown-from-main settings|CALL[:N]
//                            calls selector 7 from a timer on the main thread once the
//                            settings window is up, or while that host call (the first,
//                            or the Nth) waits for it (the call goes on once it has
//                            returned; the export then runs on a second thread)
//   --fail-call CALL         frame-bounds, frame-rate, zero-point, drop-frame,
//                            ticks-per-second or current-position writes junk into its
//                            out-parameter and answers an error (repeatable)
//   --answer export|cancel|none   what the scripted user does in the settings window
//   --measure-seconds S      how long the processor use of the waiting window is measured
//   --screenshot FILE        a picture of the settings window, taken before answering
//   --timeout S              the whole run's limit (exit status 3 beyond it)
//
// The render writes a real movie with ffmpeg: a test pattern of the sequence's size,
// rate and length, encoded as the preset file says (see host_suites.h).
#include <dlfcn.h>
#include <unistd.h>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/standins/host_options.h"
#include "tests/standins/host_suites.h"
#include "tests/standins/host_user.h"

namespace {

using namespace hoststandin;

std::string libraryPath(const std::string& plugin) {
    // A bundle folder holds its library in Contents/MacOS under the bundle's name.
    const std::string bundle = plugin.back() == '/' ? plugin.substr(0, plugin.size() - 1) : plugin;
    const auto slash = bundle.find_last_of('/');
    const std::string name = bundle.substr(slash == std::string::npos ? 0 : slash + 1);
    const auto dot = name.rfind(".bundle");
    if (dot == std::string::npos || dot + 7 != name.size()) {
        return plugin;
    }
    return bundle + "/Contents/MacOS/" + name.substr(0, dot);
}

// Runs Qt's loop until `done` holds, looking every 50 ms; false after `seconds`.
bool waitUntil(const std::function<bool()>& done, double seconds) {
    const double end = wallSeconds() + seconds;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || wallSeconds() > end) {
            loop.quit();
        }
    });
    poll.start();
    if (!done()) {
        loop.exec();
    }
    return done();
}

bool pluginWindowShown() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible()) {
            return true;
        }
    }
    return false;
}

std::string menuName(const ExportControllerInitRec& record) {
    size_t length = 0;
    while (length < ecMenuNameCapacity && record.menuName[length] != 0) {
        ++length;
    }
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(record.menuName), qsizetype(length))
        .toStdString();
}

bool settingsWindowShown() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->findChild<QWidget*>("projectPopUp")) {
            return true;
        }
    }
    return false;
}

ecStatus runExport(xExportControllerEntryFunc entry, const Options& options) {
    ExportControllerTimelineInfoRec record{kHostValue, kTimelineID};
    if (!options.exportOnThread) {
        return entry(showExportDialog, stdParms(), &record);
    }
    std::atomic<bool> done{false};
    ecStatus status = 0;
    std::thread caller([&] {
        status = entry(showExportDialog, stdParms(), &record);
        done = true;
    });
    waitUntil([&] { return done.load(); }, 1e9);
    caller.join();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (const auto problem = parseOptions(args, options)) {
        std::fprintf(stderr, "%s\n%s", problem->c_str(), usage().c_str());
        return 2;
    }
    ::dup2(1, 2);    // the plug-in's console lines join the report
    int qtArgc = 1;  // the options are the host's, not Qt's ("-plugin" is Qt's own)
    QApplication app(qtArgc, argv);
    configureHost(options);

    const std::string library = libraryPath(options.plugin);
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        report("load-failed " + quoted(::dlerror()));
        return 1;
    }
    auto entry = reinterpret_cast<xExportControllerEntryFunc>(::dlsym(handle, ecEntryPointName));
    if (!entry) {
        report("no-entry-point");
        return 1;
    }
    report("loaded " + quoted(library));
    setPluginEntry(entry);

    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        report("timeout");
        ::_exit(3);
    });
    guard.start(int(options.timeoutSeconds * 1000));
    ScriptedUser user(options);
    user.start();
    // The main thread shuts the plug-in down at the moment asked for, once: from a timer,
    // so that it also fires inside the plug-in's own loop while its window waits.
    QTimer shutdownMoment;
    bool shutDown = false;
    QObject::connect(&shutdownMoment, &QTimer::timeout, [&] {
        const bool atSettings = options.shutdownFromMain.call == "settings";
        if (!shutDown &&
            ((atSettings && settingsWindowShown()) || (!atSettings && callAwaitsShutdown()))) {
            shutDown = true;
            shutDownPlugin();
            letHeldCallGoOn();
        }
    });
    if (!options.shutdownFromMain.call.empty()) {
        shutdownMoment.start(50);
    }

    for (const std::string& step : options.steps) {
        if (step == "startup") {
            ExportControllerInitRec record{};
            const ecStatus status = callPlugin(ecStartup, &record);
            report("startup status=" + std::to_string(status) +
                   " menu=" + quoted(menuName(record)));
        } else if (step == "export") {
            const ecStatus status = runExport(entry, options);
            report("export status=" + std::to_string(status));
        } else if (step == "shutdown") {
            shutDownPlugin();
        } else if (step.rfind("selector:", 0) == 0) {
            const int32_t selector = std::stoi(step.substr(9));
            const ecStatus status = callPlugin(selector, nullptr);
            report("selector " + std::to_string(selector) + " status=" + std::to_string(status));
        } else if (step == "idle") {
            const bool idle =
                waitUntil([] { return !pluginWindowShown(); }, options.idleTimeoutSeconds);
            report("idle " + std::string(idle ? "ok" : "windows-still-open"));
        } else {
            report("unknown-step " + quoted(step));
            return 2;
        }
    }
    report("end frame-buffers=" + std::to_string(frameBuffersAlive()) + " host-strings=" +
           std::to_string(hostStringsAlive()) + " suites-held=" + std::to_string(suitesHeld()));
    return 0;
}
