#pragma once
// The top of the share destination. The editor starts it from its share menu (the bus
// starts it for a command when it is not running), sends the make command, writes the
// rendered movie and its FCPXML where the new asset says and sends open-documents for
// both. The delegate guards the start with a time-out, reads the sequence's timing,
// makes a thumbnail, runs the upload through the progress window and quits when the
// upload ends, is cancelled or has failed. Main thread only.
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "apps/share_destination/SAMHandOver.h"
#include "platform/scripting/ScriptCommand.h"
#include "platform/scripting/dbus/ScriptingBus.h"
#include "upload_dialog/UploadProgressController.h"

class QuorvSettingsController;
class SAMAsset;

class SAMApplicationDelegate : public UploadProgressDelegate,
                               public std::enable_shared_from_this<SAMApplicationDelegate> {
  public:
    static constexpr double kLaunchTimeoutSeconds = 5.0;
    static constexpr const char* kTimeoutTitle = "This application cannot be launched directly";
    static constexpr const char* kTimeoutMessage =
        "Instead please use the Share menu in FCPX to activate it.";

    struct Options {
        QDBusConnection bus = QDBusConnection::sessionBus();
        // Ends the program with an exit status; by default Qt's loop is left.
        std::function<void(int)> terminate;
        // The interface published for the scripting object (read from the bundle when
        // empty).
        QString introspection;
    };

    static std::shared_ptr<SAMApplicationDelegate> create(Options options);
    // The running delegate (the document windows reach the settings window through it).
    static std::shared_ptr<SAMApplicationDelegate> shared();
    ~SAMApplicationDelegate() override;

    // Launch: a new log, the settings window (not shown), the scripting object on the
    // bus and the time-out. False when the bus name cannot be had.
    bool applicationDidFinishLaunching();
    // The open-documents command: the direct parameter's bookmarks.
    void openFiles(platform::scripting::ScriptCommand& command);
    // Uploads the checked movie: the upload reads that file, whatever its path names by
    // then.
    void beginUpload(std::shared_ptr<const sam::CheckedFile> movie);
    void generateThumbImage(std::shared_ptr<const sam::CheckedFile> movie);
    void timeout();
    void stopTimeout();
    // Arms the launch time-out again: a program that was handed nothing it can share
    // does not wait unseen for ever. Never while a share is under way.
    void rearmTimeout();

    // One share at a time: true while a make command waits for the settings window,
    // while the editor `sender` is not the one whose asset awaits its files, and while
    // an upload is prepared or runs. Two shares would write the same location.
    bool busyFor(const std::string& sender) const;
    // A make waits for the settings window, an editor still on the bus was handed an
    // asset, or files were taken: no time-out may end the program now.
    bool shareUnderWay() const { return busyFor(std::string()); }
    // A make command from `sender` is answered with `asset`. A new holder starts a share
    // of its own: whatever an earlier share left at the asset's files is removed first,
    // so nothing is written through it. When the holder leaves the bus before it hands
    // anything over, the launch time-out is armed again.
    void handOutAsset(const std::string& sender, const SAMAsset& asset);
    // The editor whose make was answered last; empty: none yet.
    const std::string& assetOwner() const { return assetOwner_; }

    // ---- the progress window ----
    void uploadComplete() override;
    void uploadCancelled() override;
    void uploadFailed() override;

    // Quits once, with `status`.
    void terminate(int status);

    const std::shared_ptr<QuorvSettingsController>& settingsController() const {
        return settingsController_;
    }
    const std::shared_ptr<UploadProgressController>& progressController() const {
        return progressController_;
    }
    bool timeoutArmed() const { return timeoutTimer_ != nullptr; }

    // The make command waiting for the settings window; none when no make waits.
    std::shared_ptr<platform::scripting::SuspendedCommand>& waitingMake() { return waitingMake_; }

  private:
    explicit SAMApplicationDelegate(Options options);
    void handleCommand(platform::scripting::ScriptCommand& command);
    // Deletes the movie and its description when the editor wrote them into the location
    // this program handed out; files anywhere else are the editor's own.
    void removeHandedOutFiles() const;
    // Removes the link the upload reads the checked movie through.
    void removeUploadLink();
    // The editor holding the asset left the bus (or was gone when it got it).
    void holderLeft(const std::string& name);

    Options options_;
    std::shared_ptr<QuorvSettingsController> settingsController_;
    std::shared_ptr<UploadProgressController> progressController_;
    std::unique_ptr<QTimer> timeoutTimer_;
    std::unique_ptr<platform::scripting::dbus::ScriptingServer> server_;
    std::shared_ptr<platform::scripting::SuspendedCommand> waitingMake_;
    std::string assetOwner_;  // the editor whose asset awaits its files; empty: none
    std::unique_ptr<QDBusServiceWatcher> ownerWatcher_;
    bool sharing_ = false;  // files taken: the share runs until the program quits
    std::optional<std::string> sharedMovie_;
    std::optional<std::string> sharedDescription_;
    // The files checked at the hand-over, held open until the program quits.
    std::shared_ptr<const sam::CheckedFile> checkedMovie_;
    std::shared_ptr<const sam::CheckedFile> checkedDescription_;
    sam::CheckedFile::UploadLink uploadLink_;  // the link the upload reads
    bool terminating_ = false;
};
