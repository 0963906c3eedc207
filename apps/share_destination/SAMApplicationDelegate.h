#pragma once
// The top of the share destination. The editor starts it from its share menu (the bus
// starts it for a command when it is not running), sends the make command, writes the
// rendered movie and its FCPXML where the new asset says and sends open-documents for
// both. The delegate guards the start with a time-out, reads the sequence's timing,
// makes a thumbnail, runs the upload through the progress window and quits when the
// upload ends, is cancelled or has failed. Main thread only.
#include <QDBusConnection>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/scripting/ScriptCommand.h"
#include "platform/scripting/dbus/ScriptingBus.h"
#include "upload_dialog/UploadProgressController.h"

class QuorvSettingsController;

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
    void openFiles(const platform::scripting::ScriptCommand& command);
    void beginUpload(const std::string& moviePath);
    void generateThumbImage(const std::string& moviePath);
    void timeout();
    void stopTimeout();

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
    void applyTiming(const std::string& moviePath, const std::optional<std::string>& xmlPath);

    Options options_;
    std::shared_ptr<QuorvSettingsController> settingsController_;
    std::shared_ptr<UploadProgressController> progressController_;
    std::unique_ptr<QTimer> timeoutTimer_;
    std::unique_ptr<platform::scripting::dbus::ScriptingServer> server_;
    std::shared_ptr<platform::scripting::SuspendedCommand> waitingMake_;
    bool terminating_ = false;
};
