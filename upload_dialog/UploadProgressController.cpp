#include "upload_dialog/UploadProgressController.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDialog>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>

#include "base/RunLoop.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneReply.h"
#include "platform/ui/qt/UserNotifications.h"
#include "platform/ui/qt/WindowPlacement.h"
#include "support/OWTimecode.h"
#include "ui_UploadProgress.h"
#include "upload_dialog/QuorvSettingsController.h"

namespace {

// Size of the file at `path`, 0 when it cannot be read.
uint64_t fileSizeAt(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
}

std::string flag(bool on) {
    return on ? "1" : "0";
}

// Why an upload the client would not start never began.
std::string notStartedText(const QuorvSettingsController& settings, const OWQuorvane& client) {
    if (settings.projectID() == QuorvSettingsController::kNoProject) {
        return "No project was chosen, so nothing was uploaded. Choose or create a project in "
               "the upload settings window and try again.";
    }
    if (!client.isLinked()) {
        return "Please authorize with your Quorvane account before uploading.";
    }
    return "The upload could not be started.";
}

// The file a registration reply names: a whole number above 0 that fits a file id, as a
// JSON number or as text of digits only. A fraction, trailing letters or a number too
// large for an id name no file, however many leading digits they have.
std::optional<int64_t> registeredFileID(const base::Value& result) {
    const base::Value& id = result["id"];
    if (id.isNumber()) {
        const std::optional<base::Decimal> number = id.decimal();  // none when not finite
        if (!number || !number->isIntegral() || number->isNegative() || number->isZero() ||
            *number > base::Decimal(std::numeric_limits<int64_t>::max())) {
            return std::nullopt;
        }
        return number->toInt64();
    }
    const base::String* text = id.string();
    if (!text) {
        return std::nullopt;
    }
    const std::string_view digits = text->view();
    int64_t value = 0;
    const char* end = digits.data() + digits.size();
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const auto [stop, problem] = std::from_chars(digits.data(), end, value);
    if (problem != std::errc() || stop != end || value <= 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::shared_ptr<UploadProgressController> UploadProgressController::create(std::string sourceFile) {
    std::shared_ptr<UploadProgressController> controller(
        new UploadProgressController(std::move(sourceFile)));
    controller->buildForm();
    controller->connectActions();
    controller->awakeFromNib();
    return controller;
}

UploadProgressController::UploadProgressController(std::string sourceFile)
    : sourceFile_(std::move(sourceFile)) {}

UploadProgressController::~UploadProgressController() {
    if (quorv_) {
        quorv_->unassignDelegate();
    }
}

QDialog* UploadProgressController::window() const {
    return window_.get();
}

void UploadProgressController::buildForm() {
    window_ = std::make_unique<QDialog>();
    ui_ = std::make_unique<Ui::UploadProgress>();
    ui_->setupUi(window_.get());
}

void UploadProgressController::connectActions() {
    QObject::connect(ui_->cancelButton, &QPushButton::clicked, window_.get(), [this] { cancel(); });
    // Escape and the close box cancel the upload as the button does.
    QObject::connect(window_.get(), &QDialog::rejected, window_.get(), [this] {
        if (state_ == State::Uploading || state_ == State::Finishing) {
            cancel();
        }
    });
}

void UploadProgressController::awakeFromNib() {
    quorv_ = OWQuorvane::create();
    quorv_->setDelegate(shared_from_this());

    totalBytes_ = fileSizeAt(sourceFile_);
    // The bar holds an int: larger files are counted in units of 2^shift bytes, chosen
    // so that the file's size is exactly the bar's maximum.
    while ((totalBytes_ >> barShift_) > uint64_t(INT_MAX)) {
        ++barShift_;
    }
    ui_->progress->setRange(0, barValue(totalBytes_));
    ui_->progress->setValue(0);
    shownBarValue_ = 0;

    timeEstimate_ = OWTimeEstimate::timeEstimateWithTotal(double(totalBytes_));

    window_->adjustSize();
    platform::ui::qt::centerOnPrimaryScreen(*window_);
    window_->show();
    window_->activateWindow();
    ui_->statusLabel->setText(QObject::tr(kUploadingText));
}

int UploadProgressController::barValue(uint64_t bytes) const {
    return int(std::min(bytes, totalBytes_) >> barShift_);
}

std::string UploadProgressController::startTimecode(const QuorvSettingsController& settings) {
    const float fps = settings.fps();
    const auto timebase = int64_t(std::ceil(fps));
    const bool ntsc = float(timebase) != fps;
    return OWTimecode::timecodeFromFrameCount(settings.timecodeZeroPoint(), timebase, ntsc,
                                              settings.dropFrame(), 0);
}

base::Dictionary UploadProgressController::uploadSettings(const QuorvSettingsController& settings) {
    return base::Dictionary{
        {"mime-type", kMimeType},
        {"status", std::to_string(settings.status())},
        {"linkRequirePassword", flag(settings.linkRequirePassword())},
        {"linkPassword", settings.linkPassword()},
        {"linkHideDownload", flag(settings.linkHideDownload())},
        {"linkAccessRevisions", flag(settings.linkAccessRevisions())},
        {"linkExpires", std::to_string(settings.linkExpires())},
        {"workflow_id", std::to_string(settings.workflowID())},
    };
}

void UploadProgressController::uploadWithSettings(const QuorvSettingsController& settings) {
    const std::string timecode = startTimecode(settings);
    // Taken now: the notification names the file as it was sent.
    title_ = settings.title();
    state_ = State::Uploading;
    const bool started =
        quorv_->uploadFile(sourceFile_, settings.projectID(), settings.folder(), settings.deptID(),
                           title_, settings.desc(), settings.fps(), timecode, settings.duration(),
                           settings.autoRevise(), settings.emails(), settings.allowComments(),
                           std::nullopt, settings.alertUsers(), uploadSettings(settings));
    if (!started) {
        // No outcome would ever come: fail now, from the main queue as the client's
        // own failures arrive, so that this call still returns at once.
        const base::Error error =
            OWQuorvaneReply::errorWithMessage(notStartedText(settings, *quorv_));
        base::MainQueue::post([weak = weak_from_this(), error] {
            if (auto self = weak.lock()) {
                self->uploadFileFailedWithError(*self->quorv_, error);
            }
        });
        return;
    }
    timeEstimate_.start();
}

void UploadProgressController::didUploadBytes(OWQuorvane&, int64_t bytes, const base::Dictionary&) {
    if (bytes <= 0 || state_ != State::Uploading) {
        return;
    }
    bytesSent_ += uint64_t(bytes);
    timeEstimate_.incrementCurrentValue(double(bytes));
    showProgress();
}

void UploadProgressController::showProgress() {
    // Reports come in socket-sized pieces; the bar is touched only when it moves.
    const int value = barValue(bytesSent_);
    if (value != shownBarValue_) {
        ui_->progress->setValue(value);
        shownBarValue_ = value;
    }
    const QString left = QString::fromStdString(timeEstimate_.timeRemaining());
    if (ui_->progressLabel->text() != left) {
        ui_->progressLabel->setText(left);
    }
}

void UploadProgressController::setBarDeterminate(bool determinate) {
    if (determinate) {
        ui_->progress->setRange(0, barValue(totalBytes_));
    } else {
        ui_->progress->setRange(0, 0);  // Qt's busy indicator
    }
}

void UploadProgressController::fileUploaded(OWQuorvane&, const base::Value& result) {
    if (state_ != State::Uploading) {
        return;
    }
    // A reply that names no file is no registration: the service never confirmed one.
    const auto fileID = registeredFileID(result);
    if (!fileID) {
        uploadFileFailedWithError(*quorv_, OWQuorvaneReply::errorWithMessage(kNotRegisteredText));
        return;
    }
    if (!thumbnail_) {
        complete();
        return;
    }
    state_ = State::Finishing;
    ui_->statusLabel->setText(QObject::tr(kFinishingText));
    ui_->progressLabel->clear();
    setBarDeterminate(false);
    quorv_->uploadThumbnailImage(*thumbnail_, *fileID);
}

void UploadProgressController::thumbnailUploadSuccessful(OWQuorvane&, const base::Value&) {
    if (state_ == State::Finishing) {
        complete();
    }
}

void UploadProgressController::complete() {
    state_ = State::Complete;
    orderOut();
    sendNotification(kCompleteNotificationTitle, title_);
    if (removesSourceFile_) {
        removeSourceFile();
    }
    if (auto delegate = delegate_.lock()) {
        delegate->uploadComplete();
    }
}

void UploadProgressController::cancel() {
    if (state_ == State::Complete || state_ == State::Cancelled || state_ == State::Failed) {
        return;
    }
    state_ = State::Cancelled;
    quorv_->cancelAllOperations();
    orderOut();
    if (auto delegate = delegate_.lock()) {
        delegate->uploadCancelled();
    }
}

void UploadProgressController::uploadFileFailedWithError(OWQuorvane&, const base::Error& error) {
    // After a cancel the transfer reports its cancellation: the user asked for it, and
    // the window is already gone, so it is not shown.
    if (state_ != State::Uploading) {
        return;
    }
    state_ = State::Failed;
    // Blocks until the user has answered the alert.
    quorv_->showAlertForError(error);
    orderOut();
    if (auto delegate = delegate_.lock()) {
        delegate->uploadFailed();
    }
}

void UploadProgressController::thumbnailUploadFailedWithError(OWQuorvane&,
                                                              const base::Error& error) {
    // The window stays in Finishing; only Cancel leads on.
    quorv_->showAlertForError(error);
}

void UploadProgressController::orderOut() {
    window_->hide();
}

void UploadProgressController::sendNotification(const std::string& title, const std::string& info) {
    platform::ui::qt::UserNotifications::deliver(title, info);
}

void UploadProgressController::removeSourceFile() const {
    if (!sourceFile_.empty()) {
        (void)::unlink(sourceFile_.c_str());
    }
}
