#include "apps/export_plugin/ExportController.h"

#include <unistd.h>

#include <QDialog>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "apps/export_plugin/HostApplication.h"
#include "apps/export_plugin/HostText.h"
#include "apps/export_plugin/OWCustomTextField.h"
#include "apps/export_plugin/SequenceTiming.h"
#include "apps/export_plugin/Thumbnail.h"
#include "base/Bundle.h"
#include "base/Console.h"
#include "base/Path.h"
#include "base/RunLoop.h"
#include "client/OWQuorvaneAuthController.h"
#include "support/OWAlert.h"
#include "support/OWLocalPaths.h"
#include "upload_dialog/QuorvSettingsController.h"
#include "upload_dialog/UploadProgressController.h"

namespace exportplugin {

namespace {

using base::Console;

// A project path is short; anything longer than this from the host is not one.
constexpr uint32_t kMaxProjectPathBytes = 64 * 1024;

bool uploadEnded(const UploadProgressController& upload) {
    using State = UploadProgressController::State;
    const State state = upload.state();
    return state == State::Complete || state == State::Cancelled || state == State::Failed;
}

// Removes a movie the plug-in asked the host to render. Only such a movie: it lies in
// the plug-in's own temporary folder, and nobody else can reach it.
void removeRender(const std::string& movie) {
    if (!movie.empty()) {
        (void)::unlink(movie.c_str());
    }
}

// The movie of one export, removed when the export ends without an upload taking it.
class RenderedMovie {
  public:
    explicit RenderedMovie(std::string path) : path_(std::move(path)) {}
    ~RenderedMovie() { removeRender(path_); }
    RenderedMovie(const RenderedMovie&) = delete;
    RenderedMovie& operator=(const RenderedMovie&) = delete;
    const std::string& path() const { return path_; }
    // The upload has it now; its end removes it.
    std::string handOver() { return std::exchange(path_, {}); }

  private:
    std::string path_;
};

// Tells the plug-in when an upload has ended, so its window can go.
class UploadEndWatcher : public UploadProgressDelegate {
  public:
    void uploadComplete() override { ended(); }
    void uploadCancelled() override { ended(); }
    void uploadFailed() override { ended(); }

  private:
    // Not from inside the window's own call: the window is released afterwards.
    static void ended() {
        base::MainQueue::post([] { ExportController::shared().forgetEndedUploads(); });
    }
};

}  // namespace

ExportController& ExportController::shared() {
    static auto* controller = new ExportController;  // the host may call in while exiting
    return *controller;
}

ecStatus ExportController::startup(ecStdParms* stdParms, ExportControllerInitRec* record) {
    if (record) {
        const std::u16string name = utf16(kMenuName);
        std::copy(name.begin(), name.end(), record->menuName);
        if (name.size() < ecMenuNameCapacity) {
            record->menuName[name.size()] = 0;
        }
    }
    HostApplication::install();
    OWQuorvaneAuthController::askHubWhenNoRecord();
    if (ecSuiteBroker* broker = suiteBroker(stdParms)) {
        // A second start-up acquires afresh: what an earlier one holds goes back first,
        // so that every acquisition has its one release.
        suites_.release(*broker);
        suites_.acquire(*broker);
    }
    return ecStatusNoError;
}

std::string ExportController::projectTitle() const {
    if (!suites_.appSettings || !suites_.string || !suites_.appSettings->GetProjectPath ||
        !suites_.string->CopyToUTF8String) {
        return {};
    }
    ecHostString path{};
    const ecStatus made = suites_.appSettings->GetProjectPath(&path);
    if (made != ecStatusNoError) {
        if (made == ecStatusInvalidCall) {
            Console::write("invalid call");
        }
        return {};  // no string was made: nothing to read or dispose of
    }
    uint32_t size = 0;
    std::string text;
    if (suites_.string->CopyToUTF8String(&path, nullptr, &size) == ecStatusNoError && size > 0 &&
        size <= kMaxProjectPathBytes) {
        std::vector<char> buffer(size, '\0');
        if (suites_.string->CopyToUTF8String(&path, buffer.data(), &size) == ecStatusNoError) {
            text.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
        }
    }
    if (suites_.string->DisposeString) {
        suites_.string->DisposeString(&path);
    }
    if (text.empty()) {
        return {};
    }
    return base::deletingPathExtension(base::lastPathComponent(text));
}

bool ExportController::runSettingsWindow(const std::string& title) {
    if (!HostApplication::install()) {
        Console::write("No application to show the settings window in");
        return false;
    }
    HostApplication::runOnMainThread([this, &title] {
        if (settingsController_) {
            settingsController_->hideWindow();
        }
        settingsController_ = QuorvSettingsController::create();
        settingsController_->setTitle(title.empty() ? kUntitled : title);
        OWCustomTextField::adopt(*settingsController_->window());
        settingsController_->showWindow();
    });
    waitForSettingsWindow();
    bool cancelled = true;
    HostApplication::runOnMainThread(
        [this, &cancelled] { cancelled = settingsController_->cancelled(); });
    return !cancelled;
}

void ExportController::waitForSettingsWindow() {
    const auto settings = settingsController_;
    if (HostApplication::onMainThread()) {
        // The window is driven from here: each turn waits for Qt's next event, at most
        // a hundredth of a second, serving the modal-panel mode. It sleeps in between.
        while (!settings->finished()) {
            base::MainThreadWait::until([&settings] { return settings->finished(); },
                                        kMainThreadTurnSeconds);
        }
        return;
    }
    // The host's main thread drives the window; this thread only looks now and then.
    for (;;) {
        bool finished = false;
        HostApplication::runOnMainThread([&] { finished = settings->finished(); });
        if (finished) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(kOtherThreadSleepSeconds));
    }
}

bool ExportController::canRender() const {
    return suites_.exportController && suites_.exportController->RenderTimelineToFile;
}

ecStatus ExportController::showExportDialog(ecStdParms* stdParms,
                                            const ExportControllerTimelineInfoRec& record) {
    // Nothing could come of the user's choices without the host's render.
    if (!canRender()) {
        reportError(kErrorTitle, kNoRenderText);
        return ecStatusSuiteMissing;
    }
    const std::string title = projectTitle();
    Console::log("File title: %@", title);
    if (!runSettingsWindow(title)) {
        return ecStatusCancelled;
    }
    if (suites_.exportController && suites_.exportController->QueryTimeline) {
        std::vector<char> info(ecTimelineQuerySize, '\0');
        suites_.exportController->QueryTimeline(record.hostValue, record.timelineID, info.data());
    }
    const SequenceTiming timing =
        readSequenceTiming(suites_.sequenceInfo, suites_.time, record.timelineID);
    HostApplication::runOnMainThread([this, &timing] {
        settingsController_->setFps(timing.fps());
        settingsController_->setTimecodeZeroPoint(timing.zeroPointFrames());
        settingsController_->setDropFrame(timing.dropFrame);
        settingsController_->setDuration(0);
    });
    Console::log("fps: %f", double(timing.fps()));
    return renderAndUpload(stdParms, record);
}

ecStatus ExportController::renderAndUpload(ecStdParms* stdParms,
                                           const ExportControllerTimelineInfoRec& record) {
    const auto bundle = base::Bundle::own();
    const std::string preset =
        bundle ? bundle->pathForResource(kPresetName, kPresetType).value_or("") : "";
    const std::string tempFile = OWLocalPaths::tempFile();
    const std::string output =
        tempFile.empty() ? "" : base::appendingPathExtension(tempFile, kMovieExtension);
    const auto outputUnits = copyConvertStringRefIntoUTF16(output);
    const auto presetUnits = copyConvertStringRefIntoUTF16(preset);
    // A path that does not fit the host's buffers whole is refused, not cut short.
    if (output.empty() || !outputUnits || !presetUnits) {
        OWAlert::alertSheetWithMessageText(kAlertTitle, "OK", std::nullopt, std::nullopt,
                                           kNoTempFileText, nullptr, true);
        return ecStatusCancelled;
    }
    if (!fileExists(presetUnits->data())) {
        reportError(kErrorTitle, kNoPresetText);
        return ecStatusPresetMissing;
    }

    Console::write("render start");
    // From here the host may have written part of a movie, whatever it answers.
    RenderedMovie movie(output);
    const ecRenderPathsRec paths{outputUnits->data(), presetUnits->data()};
    const ecStatus status = suites_.exportController->RenderTimelineToFile(
        record.hostValue, record.timelineID, &paths);
    Console::write("render end");
    if (status < 0) {
        return status;
    }

    Console::write("upload start");
    bool noThumbnail = false;
    HostApplication::runOnMainThread([this, &noThumbnail] {
        noThumbnail =
            settingsController_->objectForPreferenceKey(QuorvSettingsController::kNoThumbUploadKey)
                .boolValue();
    });
    auto thumbnail = noThumbnail ? nullptr : thumbnailForTimeline(record.timelineID, stdParms, suites_);
    startUpload(movie.handOver(), std::move(thumbnail));
    return status;
}

void ExportController::startUpload(const std::string& movie,
                                   std::shared_ptr<const platform::image::RGBAImage> thumbnail) {
    HostApplication::runOnMainThread([&] {
        forgetEndedUploads();
        static const auto watcher = std::make_shared<UploadEndWatcher>();
        auto upload = UploadProgressController::create(movie);
        if (thumbnail) {
            upload->setThumbnail(std::move(thumbnail));
        }
        upload->setDelegate(watcher);
        upload->uploadWithSettings(*settingsController_);
        progressControllers_.push_back(std::move(upload));
    });
}

void ExportController::forgetEndedUploads() {
    std::erase_if(progressControllers_, [](const auto& upload) {
        if (!uploadEnded(*upload)) {
            return false;
        }
        // Uploaded, failed or cancelled: the temporary render has served its purpose.
        removeRender(upload->sourceFile());
        return true;
    });
}

void ExportController::reportError(const char16_t* title, const char16_t* text) const {
    if (suites_.error && suites_.error->ReportEvent &&
        suites_.error->ReportEvent(ecEventTypeError, reinterpret_cast<const ecUTF16Char*>(title),
                                   reinterpret_cast<const ecUTF16Char*>(text)) == ecStatusNoError) {
        return;
    }
    // A host without its error suite still gets the error in front of the user.
    if (HostApplication::install()) {
        const auto utf8 = [](const char16_t* units) {
            return QString::fromUtf16(units).toStdString();
        };
        OWAlert::alertSheetWithMessageText(kAlertTitle, "OK", std::nullopt, std::nullopt,
                                           utf8(title) + "\n\n" + utf8(text), nullptr, true);
    }
}

ecStatus ExportController::shutdown(ecStdParms* stdParms) {
    if (ecSuiteBroker* broker = suiteBroker(stdParms)) {
        suites_.release(*broker);
    }
    HostApplication::runOnMainThread([this] {
        if (settingsController_) {
            settingsController_->hideWindow();
        }
        settingsController_.reset();
        // An upload still running is stopped cleanly; its temporary movie goes.
        for (const auto& upload : progressControllers_) {
            upload->cancel();
            removeRender(upload->sourceFile());
        }
        progressControllers_.clear();
    });
    HostApplication::uninstall();
    return ecStatusNoError;
}

}  // namespace exportplugin
