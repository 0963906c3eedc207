#pragma once
// Starting other applications the way a desktop does: an application is a bundle
// (X.app/Contents/MacOS/<executable>) whose executable is started detached, in a
// session of its own, with standard streams on /dev/null and no inherited
// descriptors. The launcher never waits for the application: an intermediate child
// starts it and ends at once, so the application is adopted (and reaped) by init.
// Opening a file with an application starts its executable with the file's path.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Error.h"

namespace base {

class Workspace {
  public:
    static constexpr const char* kErrorDomain = "base.WorkspaceErrorDomain";
    enum ErrorCode : int64_t {
        kNotAnApplication = 1,  // no bundle, or no executable inside it
        kLaunchFailed,          // the executable could not be started (errno in user info)
        kNotAbsolute,           // a path to open must be absolute
        kNotAnAddress,          // an address to open must be an absolute http(s) or mailto URL
    };
    // The program that opens addresses, run with the address as its one argument;
    // xdg-open unless this variable names another (tests point it at a recorder).
    static constexpr const char* kURLOpenerEnvironment = "QUORVANE_URL_OPENER";

    // Starts `executable` detached with `arguments` (argv[1...]); never a shell.
    // None on success; the error when it could not be started.
    static std::optional<Error> spawnDetached(const std::string& executable,
                                              const std::vector<std::string>& arguments);
    // Starts the executable of the application bundle at `applicationPath`.
    static std::optional<Error> launchApplication(const std::string& applicationPath,
                                                  const std::vector<std::string>& arguments = {});
    // Starts the application with the (absolute) path of `file` as its one argument.
    static std::optional<Error> openFile(const std::string& file,
                                         const std::string& applicationPath);
    // The first application bundle ("*.app") in `folders`, or one folder below them,
    // whose CFBundleIdentifier is `identifier`.
    static std::optional<std::string> pathForApplication(std::string_view identifier,
                                                         const std::vector<std::string>& folders);
    // Where the suite's programs look for each other, in this order: the folder that
    // holds the running program's (or plug-in's) own bundle, which is the prefix it was
    // installed under wherever that is; the install prefix compiled in; the user's
    // applications folder (~/Applications); the system's (/opt). No folder twice.
    static std::vector<std::string> applicationFolders();
    // The first application in applicationFolders() whose identifier is `identifier`.
    static std::optional<std::string> pathForApplication(std::string_view identifier);
    // Finds the application by identifier in `folders` and starts it; never waits.
    static std::optional<Error> launchApplicationWithIdentifier(
        std::string_view identifier, const std::vector<std::string>& folders,
        const std::vector<std::string>& arguments = {});
    // Opens an http, https or mailto address in the user's default handler; never waits.
    static std::optional<Error> openURL(const std::string& address);
};

}  // namespace base
