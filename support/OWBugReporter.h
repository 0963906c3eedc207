#pragma once
// Notices at launch that the previous run of the application ended in a crash and
// hands the crash log to the maker's separate bug-reporter application.
//
// Two dates are kept per application, "launch" (every start) and "exit" (every clean
// stop), in a property list whose path the caller gives or else in the application's
// user defaults. When the exit is missing or older than the launch, the newest crash
// log of the application written after that launch is the evidence. Crash logs are
// files named "<application>_..." (any case) in "CrashReporter" and
// "DiagnosticReports" of the user's and then the local Logs folder.
#include <memory>
#include <optional>
#include <string>

class OWBugReporterDelegate {
  public:
    virtual ~OWBugReporterDelegate() = default;
    // On the main thread, with the crash log's path.
    virtual void applicationDidCrashWithLog(const std::string& /*path*/) {}
};

class OWBugReporter {
  public:
    using OptionalText = std::optional<std::string>;
    static constexpr const char* kBugReporterIdentifier = "com.oxburyworks.BugReporter";

    OWBugReporter() = delete;

    static void startBugReporter();
    static void startBugReporterWithDelegate(std::shared_ptr<OWBugReporterDelegate> delegate);
    // Looks for a crash, tells the delegate (without waiting), records the launch.
    static void startBugReporter(const OptionalText& name, const OptionalText& plistPath,
                                 std::shared_ptr<OWBugReporterDelegate> delegate = nullptr);
    // Records the clean exit.
    static void stopBugReporter(const OptionalText& plistPath = std::nullopt);
    // The crash log of the last run, handed to the bug reporter unless the maker-wide
    // setting "disable-crash-reporter" is on; none when the last run ended cleanly.
    static OptionalText checkForCrashes(const OptionalText& name = std::nullopt,
                                        const OptionalText& plistPath = std::nullopt);
    // Gives the file to the owner of the home folder it lies in ("/Users/<x>" or
    // "/home/<x>"); files elsewhere are left alone.
    static void chownPlist(const std::string& path);
};
