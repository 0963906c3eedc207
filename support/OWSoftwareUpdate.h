#pragma once
// Hands updating to the maker's separate updater application, "Oxbury Works Software
// Update": at start-up it runs the updater in the background with "-checkpath" and the
// path of the calling bundle, and a menu command opens the updater for a manual check.
// An instance comes from a program's interface file; everything else is class-level.
//
// The updater is looked for in the local Applications folder ("Oxbury Works/..."),
// then inside the calling bundle (Contents/Resources, then Contents/MacOS); one found
// inside the bundle is run from a fresh copy in the temporary folder.
#include <optional>
#include <string>
#include <thread>

class OWSoftwareUpdate {
  public:
    static constexpr const char* kUpdaterBundleName = "Oxbury Works Software Update.app";

    OWSoftwareUpdate() = default;
    // Waits for a start-up check still under way.
    ~OWSoftwareUpdate();
    OWSoftwareUpdate(const OWSoftwareUpdate&) = delete;
    OWSoftwareUpdate& operator=(const OWSoftwareUpdate&) = delete;

    // Called when the interface file has loaded the object: runs startup().
    void awakeFromNib();
    // Unless "SUCheckAtStartup" in the maker-wide settings is false (a boolean false or
    // 0), starts a thread running automaticallyCheckForUpdates().
    void startup();
    // Menu action.
    void manualUpdateCheck(const void* sender = nullptr);

    // The updater to start, or none (logged) when there is none or it cannot be copied.
    static std::optional<std::string> updaterPath();
    // Opens the updater as an application, without arguments, and does not wait.
    static void launchSoftwareUpdate();
    // Runs the updater's executable with "-checkpath" and the calling bundle's path.
    static void automaticallyCheckForUpdates();

  private:
    std::thread checkThread_;
};
