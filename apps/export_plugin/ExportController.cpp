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
        // A second start-up acquires afresh: what an earlier one holds goes back first
        // (or when an export still using it returns), so that every acquisition has its
        // one release.
        std::shared_ptr<const AcquiredSuites> earlier;
        {
            std::lock_guard lock(suitesMutex_);
            earlier = std::move(suites_);
        }
        earlier.reset();
        auto acquired = std::make_shared<const AcquiredSuites>(*broker);
        std::lock_guard lock(suitesMutex_);
        suites_ = std::move(acquired);
    }
    return ecStatusNoError;
}

ExportController::Run::~Run() {
    if (settings) {
        HostApplication::runOnMainThread([this] { settings.reset(); });
    }
}

ExportController::Run ExportController::beginRun() {
    Run run;
    run.host = HostCalls([this, began = shutdowns_.load()] { return shutdowns_.load() != began; });
    std::lock_guard lock(suitesMutex_);
    run.held = suites_;
    if (run.held) {
        run.suites = run.held->suites();
    }
    return run;
}

bool ExportController::interrupted(const Run& run) const {
    return run.host.stopped();
}

std::string ExportController::projectTitle(const Run& run) {
    const HostSuites& suites = run.suites;
    if (!suites.appSettings || !suites.string || !suites.appSettings->GetProjectPath ||
        !suites.string->CopyToUTF8String) {
        return {};
    }
    ecHostString path{};
    const ecStatus made = run.host.call([&] { return suites.appSettings->GetProjectPath(&path); });
    if (made != ecStatusNoError) {
        if (made == ecStatusInvalidCall) {
            Console::write("invalid call");
        }
        return {};  // no string was made: nothing to read or dispose of
    }
    uint32_t size = 0;
    std::string text;
    if (run.host.call([&] { return suites.string->CopyToUTF8String(&path, nullptr, &size); }) ==
            ecStatusNoError &&
        size > 0 && size <= kMaxProjectPathBytes) {
        std::vector<char> buffer(size, '\0');
        if (run.host.call([&] {
                return suites.string->CopyToUTF8String(&path, buffer.data(), &size);
            }) == ecStatusNoError) {
            text.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
        }
    }
    // Like a frame buffer, a string the host made is freed even once stopped.
    if (suites.string->DisposeString) {
        suites.string->DisposeString(&path);
    }
    if (text.empty()) {
        return {};
    }
    return base::deletingPathExtension(base::lastPathComponent(text));
}

bool ExportController::runSettingsWindow(Run& run, const std::string& title) {
    if (interrupted(run)) {
        return false;
    }
    if (!HostApplication::install()) {
        Console::write("No application to show the settings window in");
        return false;
    }
    HostApplication::runOnMainThread([this, &run, &title] {
        // Checked here, on the thread where shut-down hides the window: a window shown
        // after it would wait for an answer nobody expects.
        if (interrupted(run)) {
            return;
        }
        if (settingsController_) {
            settingsController_->hideWindow();
        }
        settingsController_ = QuorvSettingsController::create();
        settingsController_->setTitle(title.empty() ? kUntitled : title);
        OWCustomTextField::adopt(*settingsController_->window());
        settingsController_->showWindow();
        run.settings = settingsController_;
    });
    if (!run.settings) {
        return false;
    }
    waitForSettingsWindow(run);
    bool cancelled = true;
    HostApplication::runOnMainThread([&run, &cancelled] { cancelled = run.settings->cancelled(); });
    // Shut-down hides the window, which finishes it without a cancel: the export ends all
    // the same.
    return !cancelled && !interrupted(run);
}

void ExportController::waitForSettingsWindow(const Run& run) {
    const auto& settings = run.settings;
    if (HostApplication::onMainThread()) {
        // The window is driven from here: each turn waits for Qt's next event, at most
        // a hundredth of a second, serving the modal-panel mode. It sleeps in between.
        const auto done = [this, &run, &settings] {
            return settings->finished() || interrupted(run);
        };
        while (!done()) {
            base::MainThreadWait::until(done, kMainThreadTurnSeconds);
        }
        return;
    }
    // The host's main thread drives the window; this thread only looks now and then.
    for (;;) {
        bool finished = false;
        HostApplication::runOnMainThread([&] { finished = settings->finished(); });
        if (finished || interrupted(run)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(kOtherThreadSleepSeconds));
    }
}

ecStatus ExportController::showExportDialog(ecStdParms* stdParms,
                                            const ExportControllerTimelineInfoRec& record) {
    Run run = beginRun();
    // Nothing could come of the user's choices without the host's render.
    if (!run.suites.exportController || !run.suites.exportController->RenderTimelineToFile) {
        reportError(run.suites, kErrorTitle, kNoRenderText);
        return ecStatusSuiteMissing;
    }
    const std::string title = projectTitle(run);
    Console::log("File title: %@", title);
    if (!runSettingsWindow(run, title) || interrupted(run)) {
        return ecStatusCancelled;
    }
    if (run.suites.exportController->QueryTimeline) {
        std::vector<char> info(ecTimelineQuerySize, '\0');
        run.host.call([&] {
            return run.suites.exportController->QueryTimeline(record.hostValue, record.timelineID,
                                                              info.data());
        });
    }
    // Stopped during the timing questions: those after the shut-down were not asked.
    const SequenceTiming timing =
        readSequenceTiming(run.suites.sequenceInfo, run.suites.time, record.timelineID, run.host);
    if (interrupted(run)) {
        return ecStatusCancelled;
    }
    HostApplication::runOnMainThread([&run, &timing] {
        run.settings->setFps(timing.fps());
        run.settings->setTimecodeZeroPoint(timing.zeroPointFrames());
        run.settings->setDropFrame(timing.dropFrame);
        run.settings->setDuration(0);
    });
    Console::log("fps: %f", double(timing.fps()));
    return renderAndUpload(stdParms, record, run);
}

ecStatus ExportController::renderAndUpload(ecStdParms* stdParms,
                                           const ExportControllerTimelineInfoRec& record,
                                           const Run& run) {
    if (interrupted(run)) {
        return ecStatusCancelled;
    }
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
        reportError(run.suites, kErrorTitle, kNoPresetText);
        return ecStatusPresetMissing;
    }
    if (interrupted(run)) {
        return ecStatusCancelled;
    }

    Console::write("render start");
    // From here the host may have written part of a movie, whatever it answers.
    RenderedMovie movie(output);
    const ecRenderPathsRec paths{outputUnits->data(), presetUnits->data()};
    const ecStatus status = run.suites.exportController->RenderTimelineToFile(
        record.hostValue, record.timelineID, &paths);
    Console::write("render end");
    if (status < 0) {
        return status;
    }
    // Shut down while the host rendered: the movie goes unsent.
    if (interrupted(run)) {
        Console::write("shut down during the render");
        return ecStatusCancelled;
    }

    Console::write("upload start");
    bool noThumbnail = false;
    HostApplication::runOnMainThread([&run, &noThumbnail] {
        noThumbnail =
            run.settings->objectForPreferenceKey(QuorvSettingsController::kNoThumbUploadKey)
                .boolValue();
    });
    // The setting is read on the main thread, where a host event may have shut us down.
    auto thumbnail = noThumbnail || interrupted(run)
                         ? nullptr
                         : thumbnailForTimeline(record.timelineID, stdParms, run.suites, run.host);
    if (!startUpload(run, movie.path(), std::move(thumbnail))) {
        Console::write("shut down before the upload");
        return ecStatusCancelled;
    }
    movie.handOver();
    return status;
}

bool ExportController::startUpload(const Run& run, const std::string& movie,
                                   std::shared_ptr<const platform::image::RGBAImage> thumbnail) {
    bool started = false;
    HostApplication::runOnMainThread([&] {
        // Checked here, on the thread where shut-down stops the uploads: none starts
        // after it.
        if (interrupted(run)) {
            return;
        }
        forgetEndedUploads();
        static const auto watcher = std::make_shared<UploadEndWatcher>();
        auto upload = UploadProgressController::create(movie);
        if (thumbnail) {
            upload->setThumbnail(std::move(thumbnail));
        }
        upload->setDelegate(watcher);
        upload->uploadWithSettings(*run.settings);
        progressControllers_.push_back(std::move(upload));
        started = true;
    });
    return started;
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

void ExportController::reportError(const HostSuites& suites, const char16_t* title,
                                   const char16_t* text) {
    if (suites.error && suites.error->ReportEvent &&
        suites.error->ReportEvent(ecEventTypeError, reinterpret_cast<const ecUTF16Char*>(title),
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
    // An export running now (further up this thread's stack, or on another thread) sees
    // this at its next step and ends there; nothing here waits for it.
    shutdowns_.fetch_add(1);
    if (suiteBroker(stdParms)) {
        std::shared_ptr<const AcquiredSuites> held;
        {
            std::lock_guard lock(suitesMutex_);
            held = std::move(suites_);
        }
        // Released here, or by a running export once it returns.
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
