#include "base/Workspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/Bundle.h"
#include "base/Path.h"
#include "base/Url.h"

extern char** environ;

#ifndef QV_INSTALL_PREFIX
#define QV_INSTALL_PREFIX "/opt/oxburyworks"
#endif

namespace base {
namespace {

Error launchError(const std::string& executable, int code) {
    Error error =
        Error::withDescription(Workspace::kErrorDomain, Workspace::kLaunchFailed,
                               "Unable to start " + executable + ": " + std::strerror(code));
    error.mutableUserInfo().set("errno", code);
    return error;
}

// Everything here runs in a forked child of a possibly multi-threaded process: only
// async-signal-safe calls until exec.
[[noreturn]] void execDetached(const char* path, char* const* argv, int reportFd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) {
        signal(sig, SIG_DFL);
    }
    int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
    }
    // The report pipe is close-on-exec and sits above 2; everything else goes.
    close_range(3, static_cast<unsigned>(reportFd) - 1, 0);
    close_range(static_cast<unsigned>(reportFd) + 1, ~0U, 0);
    execve(path, argv, environ);
    int code = errno;
    (void)!write(reportFd, &code, sizeof code);
    _exit(127);
}

// The intermediate child: a session of its own, then the application, then gone.
[[noreturn]] void forkApplication(const char* path, char* const* argv, int reportFd) {
    setsid();
    pid_t pid = fork();
    if (pid == 0) {
        execDetached(path, argv, reportFd);
    }
    if (pid < 0) {
        int code = errno;
        (void)!write(reportFd, &code, sizeof code);
    }
    _exit(0);
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool hasAppExtension(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0;
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return names;
    }
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// The first executable `name` in PATH, or the name itself (which then fails to start).
std::string findInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string folder(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (!folder.empty() && folder[0] == '/' && isExecutableFile(folder + "/" + name)) {
            return folder + "/" + name;
        }
    }
    return name;
}

bool hasIdentifier(const std::string& path, std::string_view identifier) {
    auto bundle = Bundle::atPath(path);
    return bundle && bundle->identifier() == identifier;
}

}  // namespace

std::optional<Error> Workspace::spawnDetached(const std::string& executable,
                                              const std::vector<std::string>& arguments) {
    if (!isExecutableFile(executable)) {
        return launchError(executable, access(executable.c_str(), X_OK) == 0 ? EACCES : errno);
    }
    std::vector<std::string> argvText{executable};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argvText) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    int report[2];
    // Above 2 so that pointing the standard streams at /dev/null cannot clobber it.
    if (pipe2(report, O_CLOEXEC) != 0) {
        return launchError(executable, errno);
    }
    if (report[1] <= STDERR_FILENO) {
        int moved = fcntl(report[1], F_DUPFD_CLOEXEC, 3);
        close(report[1]);
        report[1] = moved;
    }
    pid_t pid = report[1] < 0 ? -1 : fork();
    if (pid == 0) {
        close(report[0]);
        forkApplication(argv[0], argv.data(), report[1]);
    }
    int forkError = errno;
    if (report[1] >= 0) {
        close(report[1]);
    }
    if (pid < 0) {
        close(report[0]);
        return launchError(executable, forkError);
    }
    // Ends with nothing once exec has closed the last write end; an errno otherwise.
    int code = 0;
    ssize_t got;
    do {
        got = read(report[0], &code, sizeof code);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof code)) {
        return launchError(executable, code);
    }
    return std::nullopt;
}

std::optional<Error> Workspace::launchApplication(const std::string& applicationPath,
                                                  const std::vector<std::string>& arguments) {
    auto bundle = Bundle::atPath(applicationPath);
    if (!bundle || bundle->executablePath().empty()) {
        return Error::withDescription(kErrorDomain, kNotAnApplication,
                                      "Not an application: " + applicationPath);
    }
    return spawnDetached(bundle->executablePath(), arguments);
}

std::optional<Error> Workspace::openFile(const std::string& file,
                                         const std::string& applicationPath) {
    // An absolute path cannot be mistaken for an option by the application.
    if (!isAbsolutePath(file)) {
        return Error::withDescription(kErrorDomain, kNotAbsolute, "Not an absolute path: " + file);
    }
    return launchApplication(applicationPath, {file});
}

std::optional<std::string> Workspace::pathForApplication(std::string_view identifier,
                                                         const std::vector<std::string>& folders) {
    for (const auto& folder : folders) {
        std::vector<std::string> nested;
        for (const auto& name : entries(folder)) {
            std::string path = appendingPathComponent(folder, name);
            if (hasAppExtension(name)) {
                if (hasIdentifier(path, identifier)) {
                    return path;
                }
            } else {
                nested.push_back(std::move(path));
            }
        }
        for (const auto& inner : nested) {
            for (const auto& name : entries(inner)) {
                std::string path = appendingPathComponent(inner, name);
                if (hasAppExtension(name) && hasIdentifier(path, identifier)) {
                    return path;
                }
            }
        }
    }
    return std::nullopt;
}

std::vector<std::string> Workspace::applicationFolders() {
    std::vector<std::string> folders;
    const auto add = [&folders](std::string folder) {
        if (isAbsolutePath(folder) &&
            std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(std::move(folder));
        }
    };
    // Only a bundle in the classic layout is installed beside the others; a program
    // outside any bundle is a bare bundle of its own folder.
    if (const auto own = Bundle::own();
        own && access((own->bundlePath() + "/Contents/Info.plist").c_str(), F_OK) == 0) {
        add(deletingLastPathComponent(own->bundlePath()));
    }
    add(QV_INSTALL_PREFIX);
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable && *variable == '/') {
        home = variable;
    } else {
        passwd entry{};
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir) {
            home = found->pw_dir;
        }
    }
    if (!home.empty()) {
        add(appendingPathComponent(home, "Applications"));
    }
    add("/opt");
    return folders;
}

std::optional<std::string> Workspace::pathForApplication(std::string_view identifier) {
    return pathForApplication(identifier, applicationFolders());
}

std::optional<Error> Workspace::launchApplicationWithIdentifier(
    std::string_view identifier, const std::vector<std::string>& folders,
    const std::vector<std::string>& arguments) {
    const auto path = pathForApplication(identifier, folders);
    if (!path) {
        return Error::withDescription(kErrorDomain, kNotAnApplication,
                                      "No application with identifier " + std::string(identifier));
    }
    return launchApplication(*path, arguments);
}

std::optional<Error> Workspace::openURL(const std::string& address) {
    // Only addresses a browser or mail program opens; nothing that the opener could take
    // for an option or a local program.
    const auto url = Url::parse(address);
    std::string scheme = url ? url->scheme() : std::string();
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (scheme != "http" && scheme != "https" && scheme != "mailto") {
        return Error::withDescription(kErrorDomain, kNotAnAddress, "Not an address: " + address);
    }
    const char* opener = std::getenv(kURLOpenerEnvironment);
    return spawnDetached(opener && *opener ? std::string(opener) : findInPath("xdg-open"),
                         {address});
}

}  // namespace base
