#pragma once
// Where things live: the standard folders of the user and of the machine, the user's
// home and name, temporary names, random strings and the folders never to be deleted,
// moved or overwritten. No state; every call is thread-safe.
//
// Folders follow the XDG base-directory rules (HOME and XDG_* are honoured):
//   Library             user $XDG_DATA_HOME (~/.local/share)   local /var/lib
//   Preferences         user $XDG_CONFIG_HOME (~/.config)      local /etc/xdg
//   Logs                user $XDG_STATE_HOME (~/.local/state)  local /var/log
//   Caches              user $XDG_CACHE_HOME (~/.cache)        local /var/cache
//   Application Support user $XDG_DATA_HOME                    local /usr/local/share
//   Applications        user ~/Applications                    local /opt
//   Utilities           user ~/Applications/Utilities          local /usr/local/sbin
//   Documents, Desktop, Movies: the user's XDG user dirs (user-dirs.dirs), else
//   ~/Documents, ~/Desktop, ~/Videos; Documentation local /usr/local/share/doc;
//   the system domain's Library is /usr/lib.
// Local-domain folders sit under a root that tests may move (setLocalDomainRoot).
//
// A process running as root sees the console user (see platform/system/ConsoleUser.h):
// user-domain folders are moved from root's home into the console user's home.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class OWLocalPaths {
  public:
    enum class Directory {
        Applications,
        AdminApplications,
        Documents,
        Library,
        Preferences,
        Logs,
        Caches,
        ApplicationSupport,
        Movies,
        Desktop,
        Documentation,
    };
    // Domain mask bits; searched in the order user, local, system.
    enum DomainMask : unsigned { kUserDomain = 1, kLocalDomain = 2, kSystemDomain = 8 };

    static std::optional<std::string> pathForDirectory(Directory directory, unsigned forUserDomain);

    // true = the user domain, false = the local domain.
    static std::optional<std::string> applicationDirectory(bool userDomain);
    static std::optional<std::string> adminApplicationDirectory(bool userDomain);
    static std::optional<std::string> documentDirectory(bool userDomain);
    static std::optional<std::string> libraryDirectory(bool userDomain);
    static std::optional<std::string> prefsDirectory(bool userDomain);
    static std::optional<std::string> cacheDirectory(bool userDomain);
    static std::optional<std::string> appSupportDirectory(bool userDomain);
    static std::optional<std::string> logDirectory(bool userDomain);
    static std::optional<std::string> movieDirectory();
    static std::optional<std::string> desktopDirectory();
    static std::optional<std::string> systemLibraryDirectory();
    static std::optional<std::string> localDocumentationDirectory();
    // The user's cache folder with a trailing "/"; none when it would not fit 1,024 bytes.
    static std::optional<std::string> darwinCacheDirectory();

    // For root the console user's home and name (its own when nobody is at the console).
    static std::string userDirectory();
    static std::string username();
    // The user at the console, or none (nobody, or the login greeter).
    static std::optional<std::string> currentConsoleUser();
    // The freedesktop trash of the user: the Library folder followed by "Trash".
    static std::string trashDirectory();

    // The process's private temporary folder, ${TMPDIR:-/tmp}/oxburyworks-<uid>, made
    // 0700 and owner-checked; replaced by a fresh mkdtemp folder when it is not ours.
    static std::string tempDirectory();
    // A fresh globally unique string per call.
    static std::string uuid();
    // tempDirectory joined with uuid followed by 8 random characters; not created.
    static std::string tempFile();
    // `length` characters of "abcdefghijklmnopqrstuvwxyz0123456789" from the OS CSPRNG.
    static std::string randomString(size_t length);

    static std::optional<std::string> ensureTrailingSlash(std::optional<std::string> path);
    static std::optional<std::string> stripTrailingSlash(std::optional<std::string> path);

    // Whether the path is a folder the system must never delete, move or overwrite; with
    // exactMatch false also everything inside the system's own trees.
    static bool isPathSystemDirectory(std::string_view path, bool exactMatch = false);
    static bool isPathOnTimeMachineVolume(std::string_view path);

    // Moves the local domain under `root` ("" restores "/"); for tests.
    static void setLocalDomainRoot(std::string root);
};
