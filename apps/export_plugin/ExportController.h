#pragma once
// The plug-in's process-wide state and its three operations: start-up (menu name,
// suites), one export (settings window, timing, render, thumbnail, upload) and
// shut-down. The host calls the entry point; everything here runs inside the host.
//
// Uploads outlive the export that started them: each progress window is kept until its
// upload has ended, whatever exports follow; shut-down cancels the ones still running.
// A movie the host rendered for an export is the plug-in's own temporary file: it is
// removed however the export ends (failed render, upload complete, failed or cancelled).
#include <memory>
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

    const HostSuites& suites() const { return suites_; }
    // Drops the progress windows whose uploads have ended (main thread).
    void forgetEndedUploads();

  private:
    ExportController() = default;

    // Whether the host gave what an export needs: its render of a timeline to a file.
    bool canRender() const;
    // The project's file name without extension; "" without a saved project or suite.
    std::string projectTitle() const;
    // Shows a new settings window and waits in the plug-in's own loop until it is done;
    // false when it was cancelled (or cannot be shown).
    bool runSettingsWindow(const std::string& title);
    void waitForSettingsWindow();
    ecStatus renderAndUpload(ecStdParms* stdParms, const ExportControllerTimelineInfoRec& record);
    void reportError(const char16_t* title, const char16_t* text) const;
    void startUpload(const std::string& movie,
                     std::shared_ptr<const platform::image::RGBAImage> thumbnail);

    HostSuites suites_;
    std::shared_ptr<QuorvSettingsController> settingsController_;
    std::vector<std::shared_ptr<UploadProgressController>> progressControllers_;
};

}  // namespace exportplugin
