#include "apps/share_destination/SAMApplicationDelegate.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <algorithm>
#include <cctype>

#include "apps/share_destination/SAMMakeCommand.h"
#include "apps/share_destination/SAMScripting.h"
#include "apps/share_destination/SAMScriptingTerms.h"
#include "apps/share_destination/SAMShareTiming.h"
#include "base/Bundle.h"
#include "base/Console.h"
#include "base/OperationQueue.h"
#include "base/RunLoop.h"
#include "platform/scripting/Bookmark.h"
#include "platform/scripting/Conversions.h"
#include "support/OWAlert.h"
#include "support/OWLog.h"
#include "upload_dialog/QuorvSettingsController.h"

namespace {

using platform::scripting::ScriptCommand;

std::weak_ptr<SAMApplicationDelegate> gShared;  // main thread only

std::string lowercase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The interface description shipped in the bundle's resources.
QString bundledIntrospection() {
    const auto bundle = base::Bundle::main();
    if (!bundle) {
        return {};
    }
    QFile file(QString::fromStdString(bundle->resourcePath() + "/" + sam::kIntrospectionFile));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    // The published file is a whole <node>; the object serves its <interface>.
    const QString text = QString::fromUtf8(file.read(256 * 1024));
    const auto start = text.indexOf("<interface");
    const auto end = text.lastIndexOf("</interface>");
    return start >= 0 && end > start ? text.mid(start, end - start + 12) : QString();
}

std::shared_ptr<base::OperationQueue> thumbnailQueue() {
    static const auto queue = base::OperationQueue::create("SAM thumbnails", 1);
    return queue;
}

}  // namespace

std::shared_ptr<SAMApplicationDelegate> SAMApplicationDelegate::create(Options options) {
    std::shared_ptr<SAMApplicationDelegate> delegate(
        new SAMApplicationDelegate(std::move(options)));
    gShared = delegate;
    return delegate;
}

std::shared_ptr<SAMApplicationDelegate> SAMApplicationDelegate::shared() {
    return gShared.lock();
}

SAMApplicationDelegate::SAMApplicationDelegate(Options options) : options_(std::move(options)) {
    if (!options_.terminate) {
        options_.terminate = [](int status) { QCoreApplication::exit(status); };
    }
}

SAMApplicationDelegate::~SAMApplicationDelegate() {
    if (server_) {
        server_->stop();
    }
}

bool SAMApplicationDelegate::applicationDidFinishLaunching() {
    OWLog::createNewLog();
    std::weak_ptr<SAMApplicationDelegate> weak = weak_from_this();
    const QString introspection =
        options_.introspection.isEmpty() ? bundledIntrospection() : options_.introspection;
    server_ = std::make_unique<platform::scripting::dbus::ScriptingServer>(
        options_.bus,
        platform::scripting::dbus::BusNames{sam::kBusName, sam::kObjectPath, sam::kInterface},
        introspection, [weak](ScriptCommand& command) {
            if (auto self = weak.lock()) {
                self->handleCommand(command);
            }
        });
    std::string error;
    if (!server_->start(error)) {
        base::Console::log("Quorvane FCPX Exporter cannot serve scripting: %@", error);
        return false;
    }
    // The bus name is ours before the settings window loads: an account that is not
    // linked blocks here in its alert, and an editor's command that arrives meanwhile is
    // answered rather than left to time out.
    settingsController_ = QuorvSettingsController::create();
    timeoutTimer_ = std::make_unique<QTimer>();
    timeoutTimer_->setSingleShot(true);
    // Precise: a coarse timer may fire up to 5 % early and cut off an editor's command
    // arriving just before the five seconds are up.
    timeoutTimer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timeoutTimer_.get(), &QTimer::timeout, [weak] {
        if (auto self = weak.lock()) {
            self->timeout();
        }
    });
    timeoutTimer_->start(static_cast<int>(kLaunchTimeoutSeconds * 1000));
    return true;
}

void SAMApplicationDelegate::handleCommand(ScriptCommand& command) {
    switch (command.event()) {
        case ScriptCommand::Event::Make:
            SAMMakeCommand::performDefaultImplementation(command, *this);
            break;
        case ScriptCommand::Event::OpenDocuments:
            openFiles(command);
            break;
        case ScriptCommand::Event::GetData:
            sam::performGetData(command);
            break;
    }
}

void SAMApplicationDelegate::timeout() {
    timeoutTimer_.reset();
    OWAlert::alertSheetWithMessageText(kTimeoutTitle, std::string("OK"), std::nullopt, std::nullopt,
                                       kTimeoutMessage, nullptr, true);
    terminate(0);
}

void SAMApplicationDelegate::stopTimeout() {
    if (timeoutTimer_) {
        timeoutTimer_->stop();
        timeoutTimer_.reset();
    }
}

void SAMApplicationDelegate::openFiles(const ScriptCommand& command) {
    stopTimeout();
    const platform::scripting::Descriptor* direct = command.directParameter();
    if (direct == nullptr || !settingsController_) {
        return;
    }
    const auto items = platform::scripting::userListWithDescriptor(*direct);
    base::Console::log("Open Document URLs: %@",
                       platform::scripting::ScriptObject(items).description());
    std::optional<std::string> moviePath;
    std::optional<std::string> xmlPath;
    for (const auto& item : items) {
        const base::Data* data = item.data();
        const auto url = data ? platform::scripting::bookmark::resolve(*data) : std::nullopt;
        if (!url) {
            continue;
        }
        base::Console::log("url: %@", url->absoluteString());
        const std::string extension = lowercase(url->pathExtension());
        if (extension == "mp4" || extension == "mov") {
            moviePath = url->path();
        } else if (extension == "fcpxml") {
            xmlPath = url->path();
        }
    }
    base::Console::log("movie: %@", moviePath.value_or("(null)"));
    base::Console::log("xml: %@", xmlPath.value_or("(null)"));
    if (!moviePath) {
        return;
    }
    if (xmlPath) {
        const sam::SequenceTiming timing = sam::readSequenceTiming(*xmlPath);
        settingsController_->setFps(static_cast<float>(timing.fps));
        settingsController_->setTimecodeZeroPoint(timing.zeroPoint);
        settingsController_->setDropFrame(timing.dropFrame);
        base::Console::log("start frame: %i", timing.zeroPoint);
    }
    generateThumbImage(*moviePath);
}

void SAMApplicationDelegate::generateThumbImage(const std::string& moviePath) {
    auto movie = std::make_shared<const platform::media::MovieAsset>(
        platform::media::MovieAsset::fromPath(moviePath));
    const sam::MovieTiming timing = sam::readMovieTiming(*movie);
    settingsController_->setDuration(timing.durationFrames);
    if (settingsController_->fps() == 0) {
        settingsController_->setFps(static_cast<float>(timing.fps));
        settingsController_->setTimecodeZeroPoint(timing.zeroPoint);
        settingsController_->setDropFrame(timing.dropFrame);
    }
    // The frame is decoded off the main thread; the answer comes back to it.
    std::weak_ptr<SAMApplicationDelegate> weak = weak_from_this();
    const double at = timing.thumbnailSeconds;
    thumbnailQueue()->addOperation([weak, movie, at, moviePath] {
        auto image = sam::thumbnailFrame(*movie, at);
        auto shared =
            image ? std::make_shared<const platform::image::RGBAImage>(std::move(*image)) : nullptr;
        base::MainQueue::post([weak, shared, moviePath] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            if (!shared) {
                base::Console::log("couldn't generate thumbnail, error:%@",
                                   "no frame could be decoded");
            } else {
                self->settingsController_->setThumbnail(shared);
            }
            self->beginUpload(moviePath);
        });
    });
}

void SAMApplicationDelegate::beginUpload(const std::string& moviePath) {
    if (settingsController_->projectID() == QuorvSettingsController::kNoProject) {
        // Nothing would be sent and the window would wait for ever.
        OWAlert::alertSheetWithMessageText("Quorvane Error", std::string("OK"), std::nullopt,
                                           std::nullopt,
                                           "No project was chosen for this share. Share once with "
                                           "the upload settings window to choose one.",
                                           nullptr, true);
        terminate(0);
        return;
    }
    progressController_ = UploadProgressController::create(moviePath);
    progressController_->setThumbnail(settingsController_->thumbnail());
    progressController_->setDelegate(weak_from_this());
    progressController_->uploadWithSettings(*settingsController_);
    if (QDialog* window = progressController_->window()) {
        window->raise();
        window->activateWindow();
    }
}

void SAMApplicationDelegate::uploadComplete() {
    terminate(0);
}

void SAMApplicationDelegate::uploadCancelled() {
    terminate(0);
}

void SAMApplicationDelegate::uploadFailed() {
    // Nothing is left to do and no window is left to close: quit after the alert.
    terminate(0);
}

void SAMApplicationDelegate::terminate(int status) {
    if (terminating_) {
        return;
    }
    terminating_ = true;
    stopTimeout();
    options_.terminate(status);
}
