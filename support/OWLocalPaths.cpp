#include "support/OWLocalPaths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

#include "base/Random.h"
#include "platform/system/ConsoleUser.h"

using platform::system::ConsoleUser;

namespace {

std::mutex gMutex;
std::string gLocalRoot = "/";
std::string gFallbackTemp;  // a private mkdtemp folder, once the usual one proved unusable

std::string localRoot() {
    std::lock_guard lock(gMutex);
    return gLocalRoot;
}

std::string joinPath(std::string_view a, std::string_view b) {
    std::string out(a);
    if (out.empty() || out.back() != '/')
        out += '/';
    while (!b.empty() && b.front() == '/') b.remove_prefix(1);
    out += b;
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

std::string localPath(std::string_view sub) {
    return joinPath(localRoot(), sub);
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// An XDG base folder: the variable when it holds an absolute path, else home/fallback.
std::string xdgBase(const char* variable, std::string_view fallback) {
    const char* value = std::getenv(variable);
    if (value && *value == '/')
        return value;
    return joinPath(ConsoleUser::processAccount().home, fallback);
}

// One entry of the user's user-dirs.dirs (XDG_VIDEOS_DIR="$HOME/Videos").
std::optional<std::string> xdgUserDir(std::string_view key) {
    std::ifstream in(joinPath(xdgBase("XDG_CONFIG_HOME", ".config"), "user-dirs.dirs"));
    const std::string home = ConsoleUser::processAccount().home;
    std::string line;
    for (int lines = 0; lines < 200 && std::getline(in, line); ++lines) {
        if (line.size() > 4096 || !startsWith(line, key) || line.size() < key.size() + 3 ||
            line[key.size()] != '=') {
            continue;
        }
        std::string value = line.substr(key.size() + 1);
        if (value.size() < 2 || value.front() != '"' || value.back() != '"')
            continue;
        value = value.substr(1, value.size() - 2);
        if (startsWith(value, "$HOME"))
            value = home + value.substr(5);
        if (value.empty() || value.front() != '/' || value == home || value == home + "/") {
            continue;  // in user-dirs.dirs, $HOME itself means "not set"
        }
        return value;
    }
    return std::nullopt;
}

std::string userDir(std::string_view key, std::string_view fallback) {
    return xdgUserDir(key).value_or(joinPath(ConsoleUser::processAccount().home, fallback));
}

std::optional<std::string> searchUser(OWLocalPaths::Directory d) {
    using D = OWLocalPaths::Directory;
    const std::string home = ConsoleUser::processAccount().home;
    switch (d) {
        case D::Applications:
            return joinPath(home, "Applications");
        case D::AdminApplications:
            return joinPath(home, "Applications/Utilities");
        case D::Documents:
            return userDir("XDG_DOCUMENTS_DIR", "Documents");
        case D::Library:
        case D::ApplicationSupport:
            return xdgBase("XDG_DATA_HOME", ".local/share");
        case D::Preferences:
            return xdgBase("XDG_CONFIG_HOME", ".config");
        case D::Logs:
            return xdgBase("XDG_STATE_HOME", ".local/state");
        case D::Caches:
            return xdgBase("XDG_CACHE_HOME", ".cache");
        case D::Movies:
            return userDir("XDG_VIDEOS_DIR", "Videos");
        case D::Desktop:
            return userDir("XDG_DESKTOP_DIR", "Desktop");
        case D::Documentation:
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> searchLocal(OWLocalPaths::Directory d) {
    using D = OWLocalPaths::Directory;
    switch (d) {
        case D::Applications:
            return localPath("opt");
        case D::AdminApplications:
            return localPath("usr/local/sbin");
        case D::Library:
            return localPath("var/lib");
        case D::Preferences:
            return localPath("etc/xdg");
        case D::Logs:
            return localPath("var/log");
        case D::Caches:
            return localPath("var/cache");
        case D::ApplicationSupport:
            return localPath("usr/local/share");
        case D::Documentation:
            return localPath("usr/local/share/doc");
        default:
            return std::nullopt;
    }
}

std::optional<std::string> searchSystem(OWLocalPaths::Directory d) {
    if (d == OWLocalPaths::Directory::Library)
        return std::string("/usr/lib");
    return std::nullopt;
}

// A root process works in the console user's home: root's own folders are moved there.
std::string moveIntoUserHome(const std::string& path) {
    std::string rest = path;
    const std::string rootHome = ConsoleUser::processAccount().home;
    for (std::string_view prefix :
         {std::string_view("/var/root"), std::string_view("/private/var/root")}) {
        if (startsWith(rest, prefix))
            rest = rest.substr(prefix.size());
    }
    if (rest == path && rootHome != "/" && (rest == rootHome || startsWith(rest, rootHome + "/"))) {
        rest = rest.substr(rootHome.size());
    }
    return joinPath(OWLocalPaths::userDirectory(), rest);
}

// "//usr/./lib/../bin/" -> "/usr/bin"; ".." never climbs above "/".
std::string lexicallyNormal(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        const std::string_view part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out = path.empty() || path.front() != '/' ? "" : "/";
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k)
            out += '/';
        out += parts[k];
    }
    return out;
}

bool isPrivateFolder(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 077) == 0;
}

}  // namespace

std::optional<std::string> OWLocalPaths::pathForDirectory(Directory directory,
                                                          unsigned forUserDomain) {
    if (forUserDomain & kUserDomain) {
        if (auto path = searchUser(directory)) {
            if (ConsoleUser::isRoot() && ConsoleUser::current())
                return moveIntoUserHome(*path);
            return path;
        }
    }
    if (forUserDomain & kLocalDomain) {
        if (auto path = searchLocal(directory))
            return path;
    }
    if (forUserDomain & kSystemDomain)
        return searchSystem(directory);
    return std::nullopt;
}

namespace {
unsigned domain(bool user) {
    return user ? OWLocalPaths::kUserDomain : OWLocalPaths::kLocalDomain;
}
}  // namespace

std::optional<std::string> OWLocalPaths::applicationDirectory(bool userDomain) {
    return pathForDirectory(Directory::Applications, domain(userDomain));
}
std::optional<std::string> OWLocalPaths::adminApplicationDirectory(bool userDomain) {
    return pathForDirectory(Directory::AdminApplications, domain(userDomain));
}
std::optional<std::string> OWLocalPaths::documentDirectory(bool userDomain) {
    return pathForDirectory(Directory::Documents, domain(userDomain));
}
std::optional<std::string> OWLocalPaths::libraryDirectory(bool userDomain) {
    return pathForDirectory(Directory::Library, domain(userDomain));
}
std::optional<std::string> OWLocalPaths::prefsDirectory(bool userDomain) {
    return pathForDirectory(Directory::Preferences, domain(userDomain));
}
std::optional<std::string> OWLocalPaths::cacheDirectory(bool userDomain) {
    return pathForDirectory(Directory::Caches, domain(userDomain));
}
std::optional<std::string> OWLocalPaths::appSupportDirectory(bool userDomain) {
    return pathForDirectory(Directory::ApplicationSupport, domain(userDomain));
}
std::optional<std::string> OWLocalPaths::logDirectory(bool userDomain) {
    return pathForDirectory(Directory::Logs, domain(userDomain));
}
std::optional<std::string> OWLocalPaths::movieDirectory() {
    return pathForDirectory(Directory::Movies, kUserDomain);
}
std::optional<std::string> OWLocalPaths::desktopDirectory() {
    return pathForDirectory(Directory::Desktop, kUserDomain);
}
std::optional<std::string> OWLocalPaths::systemLibraryDirectory() {
    return pathForDirectory(Directory::Library, kSystemDomain);
}
std::optional<std::string> OWLocalPaths::localDocumentationDirectory() {
    return pathForDirectory(Directory::Documentation, kLocalDomain);
}

std::optional<std::string> OWLocalPaths::darwinCacheDirectory() {
    auto path = ensureTrailingSlash(cacheDirectory(true));
    if (!path || path->size() >= 1024)
        return std::nullopt;
    return path;
}

std::string OWLocalPaths::userDirectory() {
    if (ConsoleUser::isRoot()) {
        if (auto console = ConsoleUser::current(); console && !console->home.empty()) {
            return console->home;
        }
    }
    return ConsoleUser::processAccount().home;
}

std::string OWLocalPaths::username() {
    if (ConsoleUser::isRoot()) {
        if (auto console = ConsoleUser::current())
            return console->name;
    }
    return ConsoleUser::processAccount().name;
}

std::optional<std::string> OWLocalPaths::currentConsoleUser() {
    auto console = ConsoleUser::current();
    if (!console || console->name.empty())
        return std::nullopt;
    return console->name;
}

std::string OWLocalPaths::trashDirectory() {
    return joinPath(libraryDirectory(true).value_or(userDirectory()), "Trash");
}

std::string OWLocalPaths::tempDirectory() {
    const char* env = std::getenv("TMPDIR");
    const std::string base = env && *env == '/' ? lexicallyNormal(env) : "/tmp";
    const std::string usual = joinPath(base, "oxburyworks-" + std::to_string(geteuid()));
    std::lock_guard lock(gMutex);
    if (!gFallbackTemp.empty() && isPrivateFolder(gFallbackTemp))
        return gFallbackTemp;
    if (mkdir(usual.c_str(), 0700) == 0 || errno == EEXIST) {
        if (isPrivateFolder(usual))
            return usual;
    }
    // Someone else owns the usual name, or it is not a private folder: make our own.
    std::string pattern = usual + "-XXXXXX";
    if (mkdtemp(pattern.data())) {
        gFallbackTemp = pattern;
        return gFallbackTemp;
    }
    return base;
}

std::string OWLocalPaths::uuid() {
    return base::uuidString();
}

std::string OWLocalPaths::tempFile() {
    return joinPath(tempDirectory(), uuid() + randomString(8));
}

// Names storage objects and protects the sign-in state, so it comes from the OS CSPRNG.
std::string OWLocalPaths::randomString(size_t length) {
    return base::randomString(length);
}

std::optional<std::string> OWLocalPaths::ensureTrailingSlash(std::optional<std::string> path) {
    if (path && !path->empty() && path->back() != '/')
        *path += '/';
    return path;
}

std::optional<std::string> OWLocalPaths::stripTrailingSlash(std::optional<std::string> path) {
    if (path && path->size() > 1 && path->back() == '/')
        path->pop_back();
    return path;
}

bool OWLocalPaths::isPathSystemDirectory(std::string_view rawPath, bool exactMatch) {
    if (rawPath.empty())
        return false;
    const std::string path = lexicallyNormal(rawPath);
    if (path == "/")
        return true;
    if (path.size() < 3)
        return false;

    std::vector<std::optional<std::string>> protectedFolders;
    for (bool user : {true, false}) {
        protectedFolders.push_back(applicationDirectory(user));
        protectedFolders.push_back(adminApplicationDirectory(user));
        protectedFolders.push_back(documentDirectory(user));
        protectedFolders.push_back(libraryDirectory(user));
        protectedFolders.push_back(prefsDirectory(user));
        protectedFolders.push_back(cacheDirectory(user));
        protectedFolders.push_back(appSupportDirectory(user));
    }
    protectedFolders.push_back(desktopDirectory());
    protectedFolders.push_back(userDirectory());
    protectedFolders.push_back(systemLibraryDirectory());
    protectedFolders.push_back(localDocumentationDirectory());
    for (const auto& folder : protectedFolders) {
        if (folder && lexicallyNormal(*folder) == path)
            return true;
    }
    static constexpr std::string_view kExact[] = {
        "/Users/Shared", "/usr", "/var",  "/bin", "/sbin", "/System", "/etc",  "/lib",  "/lib64",
        "/boot",         "/dev", "/proc", "/sys", "/run",  "/opt",    "/home", "/root", "/srv"};
    for (auto folder : kExact) {
        if (path == folder)
            return true;
    }
    if (exactMatch)
        return false;

    if (startsWith(path, "/usr/"))
        return !startsWith(path, "/usr/local/");
    static constexpr std::string_view kTrees[] = {"/var/",    "/bin/", "/sbin/", "/private/var/",
                                                  "/System/", "/etc/", "/lib/",  "/lib64/",
                                                  "/boot/",   "/dev/", "/proc/", "/sys/"};
    for (auto tree : kTrees) {
        if (startsWith(path, tree))
            return true;
    }
    return false;
}

bool OWLocalPaths::isPathOnTimeMachineVolume(std::string_view path) {
    if (!startsWith(path, "/Volumes/"))
        return false;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        if (path.substr(i, j - i) == "Backups.backupdb")
            return true;
        i = j + 1;
    }
    return false;
}

void OWLocalPaths::setLocalDomainRoot(std::string root) {
    std::lock_guard lock(gMutex);
    gLocalRoot = root.empty() ? "/" : std::move(root);
}
