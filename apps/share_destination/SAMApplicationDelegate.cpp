#include "apps/share_destination/SAMApplicationDelegate.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDialog>
#include <QFile>
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "apps/share_destination/SAMAsset.h"
#include "apps/share_destination/SAMMakeCommand.h"
#include "apps/share_destination/SAMScripting.h"
#include "apps/share_destination/SAMScriptingTerms.h"
#include "apps/share_destination/SAMShareTiming.h"
#include "base/Bundle.h"
#include "base/Console.h"
#include "base/OperationQueue.h"
#include "base/RunLoop.h"
#include "platform/scripting/Conversions.h"
#include "support/OWAlert.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"
#include "upload_dialog/QuorvSettingsController.h"

namespace {

using platform::scripting::ScriptCommand;

std::weak_ptr<SAMApplicationDelegate> gShared;  // main thread only

constexpr const char* kNoProjectText =
    "No project was chosen for this share. Share once with the upload settings window to "
    "choose one.";

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
    removeUploadLink();
}

bool SAMApplicationDelegate::applicationDidFinishLaunching() {
    OWLog::createNewLog();
    // What runs killed mid-upload left behind (a folder with a link to nothing).
    sam::removeLeftoverUploadFolders(OWLocalPaths::tempDirectory());
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
    rearmTimeout();
    return true;
}

void SAMApplicationDelegate::rearmTimeout() {
    if (terminating_ || shareUnderWay()) {
        return;
    }
    std::weak_ptr<SAMApplicationDelegate> weak = weak_from_this();
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
    if (shareUnderWay()) {
        return;
    }
    OWAlert::alertSheetWithMessageText(kTimeoutTitle, std::string("OK"), std::nullopt, std::nullopt,
                                       kTimeoutMessage, nullptr, true);
    // The editor is served while the alert is up: a share it started meanwhile runs to
    // its end, and a time-out armed again meanwhile decides for itself.
    if (shareUnderWay() || timeoutTimer_) {
        return;
    }
    terminate(0);
}

void SAMApplicationDelegate::stopTimeout() {
    if (timeoutTimer_) {
        timeoutTimer_->stop();
        timeoutTimer_.reset();
    }
}

bool SAMApplicationDelegate::busyFor(const std::string& sender) const {
    if (sharing_ || (waitingMake_ && !waitingMake_->answered())) {
        return true;
    }
    if (assetOwner_.empty() || assetOwner_ == sender) {
        return false;
    }
    // An editor that left the bus will send no files for its asset.
    const QDBusConnectionInterface* bus = options_.bus.interface();
    return bus && bus->isServiceRegistered(QString::fromStdString(assetOwner_)).value();
}

void SAMApplicationDelegate::handOutAsset(const std::string& sender, const SAMAsset& asset) {
    if (sender != assetOwner_) {
        const std::string folder = OWLocalPaths::tempDirectory();
        for (const auto& file : {asset.mediaFile(), asset.descFile()}) {
            if (file && sam::liesDirectlyIn(file->path(), folder)) {
                sam::clearHandedOutPath(file->path());
            }
        }
    }
    assetOwner_ = sender;
    if (sender.empty()) {
        return;
    }
    if (!ownerWatcher_) {
        ownerWatcher_ = std::make_unique<QDBusServiceWatcher>();
        ownerWatcher_->setConnection(options_.bus);
        ownerWatcher_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        std::weak_ptr<SAMApplicationDelegate> weak = weak_from_this();
        QObject::connect(ownerWatcher_.get(), &QDBusServiceWatcher::serviceUnregistered,
                         ownerWatcher_.get(), [weak](const QString& name) {
                             if (auto self = weak.lock()) {
                                 self->holderLeft(name.toStdString());
                             }
                         });
    }
    ownerWatcher_->setWatchedServices({QString::fromStdString(sender)});
    // An editor that gave up waiting for the settings window has gone already.
    const QDBusConnectionInterface* bus = options_.bus.interface();
    if (bus && !bus->isServiceRegistered(QString::fromStdString(sender)).value()) {
        holderLeft(sender);
    }
}

void SAMApplicationDelegate::holderLeft(const std::string& name) {
    if (name != assetOwner_ || sharing_) {
        return;
    }
    // It hands nothing over now: the program ends by itself, as after a launch that
    // nothing followed, unless another editor comes first.
    assetOwner_.clear();
    rearmTimeout();
}

void SAMApplicationDelegate::openFiles(ScriptCommand& command) {
    if (busyFor(command.sender())) {
        // Taking these files would end or overwrite the share under way.
        command.setScriptError(platform::scripting::kCommandBusyError,
                               "Another share is under way.");
        return;
    }
    stopTimeout();
    const platform::scripting::Descriptor* direct = command.directParameter();
    if (direct == nullptr || !settingsController_) {
        rearmTimeout();
        return;
    }
    base::Console::log("Open Document URLs: %@", direct->describe(sam::kMaxLoggedDescriptorBytes));
    auto read = sam::readHandOver(*direct);
    if (auto* error = std::get_if<platform::scripting::ScriptError>(&read)) {
        command.setScriptError(error->number, error->message);
        rearmTimeout();
        return;
    }
    const auto& handOver = std::get<sam::HandOver>(read);
    base::Console::log("movie: %@", handOver.moviePath.value_or("(null)"));
    base::Console::log("xml: %@", handOver.xmlPath.value_or("(null)"));
    if (!handOver.moviePath) {
        rearmTimeout();
        return;
    }
    // Both files are checked before the editor is answered: what cannot be read is
    // refused now, not found missing later in the upload.
    auto movie = sam::openChecked(*handOver.moviePath);
    std::variant<std::shared_ptr<const sam::CheckedFile>, platform::scripting::ScriptError>
        description = std::shared_ptr<const sam::CheckedFile>();
    if (handOver.xmlPath) {
        description = sam::openChecked(*handOver.xmlPath);
    }
    for (const auto* checked : {&movie, &description}) {
        if (const auto* error = std::get_if<platform::scripting::ScriptError>(checked)) {
            base::Console::log("open documents: %@", error->message);
            command.setScriptError(error->number, error->message);
            rearmTimeout();
            return;
        }
    }
    // Files handed over without a make use the choices stored last time; without any,
    // the editor hears why instead of a success that would upload nothing.
    SAMMakeCommand::useStoredChoices(*settingsController_);
    if (settingsController_->projectID() == QuorvSettingsController::kNoProject) {
        base::Console::log("open documents: %@", kNoProjectText);
        command.setScriptError(platform::scripting::kEventFailedError, kNoProjectText);
        rearmTimeout();
        return;
    }
    // The title is this share's: the one its make set, or, handed over without a make
    // of its own, the movie's file name. Nothing an earlier editor chose carries over.
    if (command.sender() != assetOwner_ || assetOwner_.empty() ||
        settingsController_->title().empty()) {
        settingsController_->setTitle(std::filesystem::path(*handOver.moviePath).stem().string());
    }
    sharing_ = true;
    sharedMovie_ = handOver.moviePath;
    sharedDescription_ = handOver.xmlPath;
    checkedMovie_ = std::get<0>(movie);
    checkedDescription_ = std::get<0>(description);
    // Read after the answer has gone out: the editor does not wait for the probe.
    std::weak_ptr<SAMApplicationDelegate> weak = weak_from_this();
    base::MainQueue::post([weak, movie = std::get<0>(movie), xml = std::get<0>(description)] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (xml) {
            const sam::SequenceTiming timing = sam::readSequenceTiming(xml->readPath());
            self->settingsController_->setFps(static_cast<float>(timing.fps));
            self->settingsController_->setTimecodeZeroPoint(timing.zeroPoint);
            self->settingsController_->setDropFrame(timing.dropFrame);
            base::Console::log("start frame: %i", timing.zeroPoint);
        }
        self->generateThumbImage(movie);
    });
}

void SAMApplicationDelegate::generateThumbImage(std::shared_ptr<const sam::CheckedFile> file) {
    auto movie = std::make_shared<const platform::media::MovieAsset>(
        platform::media::MovieAsset::fromPath(file->readPath()));
    const sam::MovieTiming timing = sam::readMovieTiming(*movie);
    settingsController_->setDuration(timing.durationFrames);
    if (settingsController_->fps() == 0) {
        settingsController_->setFps(static_cast<float>(timing.fps));
        settingsController_->setTimecodeZeroPoint(timing.zeroPoint);
        settingsController_->setDropFrame(timing.dropFrame);
    }
    // The frame is decoded off the main thread; the answer comes back to it. The checked
    // file stays open until then.
    std::weak_ptr<SAMApplicationDelegate> weak = weak_from_this();
    const double at = timing.thumbnailSeconds;
    thumbnailQueue()->addOperation([weak, movie, at, file] {
        auto image = sam::thumbnailFrame(*movie, at);
        auto shared =
            image ? std::make_shared<const platform::image::RGBAImage>(std::move(*image)) : nullptr;
        base::MainQueue::post([weak, shared, file] {
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
            self->beginUpload(file);
        });
    });
}

void SAMApplicationDelegate::beginUpload(std::shared_ptr<const sam::CheckedFile> movie) {
    const auto fail = [this](const char* text) {
        OWAlert::alertSheetWithMessageText("Quorvane Error", std::string("OK"), std::nullopt,
                                           std::nullopt, text, nullptr, true);
        terminate(0);
    };
    if (settingsController_->projectID() == QuorvSettingsController::kNoProject) {
        // Nothing would be sent and the window would wait for ever.
        fail(kNoProjectText);
        return;
    }
    // The upload opens what it sends by path, and may do so more than once: it is given
    // a path that leads to the checked file itself. The file stays open until the
    // program quits.
    checkedMovie_ = movie;
    removeUploadLink();
    uploadLink_ = movie->linkIn(OWLocalPaths::tempDirectory());
    if (uploadLink_.path.empty()) {
        fail("The movie could not be prepared for the upload.");
        return;
    }
    progressController_ = UploadProgressController::create(uploadLink_.path);
    // The movie goes once it is uploaded, but only from the location handed out.
    progressController_->setRemovesSourceFile(false);
    progressController_->setThumbnail(settingsController_->thumbnail());
    progressController_->setDelegate(weak_from_this());
    progressController_->uploadWithSettings(*settingsController_);
    if (QDialog* window = progressController_->window()) {
        window->raise();
        window->activateWindow();
    }
}

void SAMApplicationDelegate::uploadComplete() {
    removeHandedOutFiles();
    terminate(0);
}

void SAMApplicationDelegate::removeHandedOutFiles() const {
    const std::string folder = OWLocalPaths::tempDirectory();
    const std::pair<const std::optional<std::string>*, const sam::CheckedFile*> files[] = {
        {&sharedMovie_, checkedMovie_.get()}, {&sharedDescription_, checkedDescription_.get()}};
    for (const auto& [path, checked] : files) {
        // Only while the path still names the file that was taken (itself, or a link to
        // it: the link goes, never the file it leads to): whatever the editor put there
        // since is not this share's to delete.
        if (*path && checked && checked->isAt(**path) && sam::liesDirectlyIn(**path, folder)) {
            (void)::unlink((*path)->c_str());
        }
    }
}

void SAMApplicationDelegate::removeUploadLink() {
    sam::CheckedFile::removeLink(uploadLink_);
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
    removeUploadLink();
    options_.terminate(status);
}
