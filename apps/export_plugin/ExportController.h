#pragma once
// The plug-in's process-wide state and its three operations: start-up (menu name,
// suites), one export (settings window, timing, render, thumbnail, upload) and
// shut-down. The host calls the entry point; everything here runs inside the host.
//
// Uploads outlive the export that started them: each progress window is kept until its
// upload has ended, whatever exports follow; shut-down cancels the ones still running.
// A movie the host rendered for an export is the plug-in's own temporary file: it is
// removed however the export ends (failed render, upload complete, failed or cancelled).
//
// Shut-down may come while an export runs: from inside a host call that export made, or
// from another thread. It does not wait for the export; the export notices at its next
// step and ends there with a cancel, rendering and uploading nothing more and removing
// its movie. The suites it uses stay acquired until it has unwound (see AcquiredSuites).
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "apps/export_plugin/HostSuites.h"
#include "platform/image/RGBAImage.h"

class QuorvSettingsController;
class UploadProgressController;

namespace exportplugin {

class ExportController {
  public:
    static constexpr const char* kMenuName = "Send to Quorvane";
    static constexpr const char* kUntitled = "Untitled";
    static constexpr const char* kPresetName = "Quorvane";
    static constexpr const char* kPresetType = "epr";
    static constexpr const char* kMovieExtension = "mp4";
    static constexpr const char16_t* kErrorTitle = u"Quorvane Exporter error";
    static constexpr const char16_t* kNoPresetText = u"No preset found.  Export cancelled.";
    static constexpr const char16_t* kNoRenderText =
        u"The host offers no export render to this plug-in.  Export cancelled.";
    static constexpr const char* kAlertTitle = "Quorvane Error";
    static constexpr const char* kNoTempFileText = "Unable to create temp file.";
    // Longest wait per turn of the settings window's loop on the main thread, and the
    // sleep between looks from any other thread.
    static constexpr double kMainThreadTurnSeconds = 0.01;
    static constexpr double kOtherThreadSleepSeconds = 0.5;

    static ExportController& shared();

    ecStatus startup(ecStdParms* stdParms, ExportControllerInitRec* record);
    ecStatus showExportDialog(ecStdParms* stdParms, const ExportControllerTimelineInfoRec& record);
    ecStatus shutdown(ecStdParms* stdParms);

    // Drops the progress windows whose uploads have ended (main thread).
    void forgetEndedUploads();

  private:
    // One export in flight: the suites it began with (held until it returns), the host
    // as it calls it (stopped by any shut-down after it began) and its own settings window.
    struct Run {
        // The settings window goes on the main thread, whichever thread the export ran on.
        ~Run();
        std::shared_ptr<const AcquiredSuites> held;
        HostSuites suites;
        HostCalls host;
        std::shared_ptr<QuorvSettingsController> settings;
    };

    ExportController() = default;

    Run beginRun();
    // Whether a shut-down has come since `run` began.
    bool interrupted(const Run& run) const;
    // The project's file name without extension; "" without a saved project or suite.
    static std::string projectTitle(const Run& run);
    // Shows a new settings window and waits in the plug-in's own loop until it is done;
    // false when it was cancelled, cannot be shown, or a shut-down ended it.
    bool runSettingsWindow(Run& run, const std::string& title);
    void waitForSettingsWindow(const Run& run);
    ecStatus renderAndUpload(ecStdParms* stdParms, const ExportControllerTimelineInfoRec& record,
                             const Run& run);
    static void reportError(const HostSuites& suites, const char16_t* title, const char16_t* text);
    // False when a shut-down came first: then nothing was started.
    bool startUpload(const Run& run, const std::string& movie,
                     std::shared_ptr<const platform::image::RGBAImage> thumbnail);

    std::mutex suitesMutex_;
    std::shared_ptr<const AcquiredSuites> suites_;  // under suitesMutex_
    std::atomic<uint64_t> shutdowns_{0};
    // Main thread only.
    std::shared_ptr<QuorvSettingsController> settingsController_;
    std::vector<std::shared_ptr<UploadProgressController>> progressControllers_;
};

}  // namespace exportplugin
