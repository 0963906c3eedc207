// Queries, trash, delete, folders, copy and move, with the privileged fallback and
// the waiting variants.
#include "support/OWFileManager.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "base/Console.h"
#include "base/Format.h"
#include "base/RunLoop.h"
#include "platform/system/FileOps.h"
#include "platform/system/Trash.h"
#include "support/OWAuthorization.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"

namespace fileops = platform::system::fileops;

namespace {

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool isRealFolder(const std::string& path) {
    auto info = fileops::itemInfo(path);
    return info && info->kind == fileops::ItemKind::Directory;
}

// A rename that only changes case, of one and the same item (a case-insensitive
// file system). On a case-sensitive one "movie.mov" and "Movie.mov" are two names.
bool isCaseOnlyRename(const std::string& source, const std::string& destination) {
    return lowercase(source) == lowercase(destination) && fileops::isSameItem(source, destination);
}

// Polls until `state` holds or the time-out passes. On the main thread the wait keeps
// the interface alive and looks at the file system again every 50 ms.
bool waitFor(const std::function<bool()>& state, OWFileManager::Seconds timeout) {
    if (base::RunLoop::isMainThread()) {
        return base::MainThreadWait::until(state, std::chrono::duration<double>(timeout).count(),
                                           0.05);
    }
    const auto start = std::chrono::steady_clock::now();
    while (!state() && std::chrono::steady_clock::now() - start < timeout) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return state();
}

template <class Match>
void trashMatching(const std::string& folder, const Match& matches,
                   std::vector<std::string>& trashed, int depth) {
    auto entries = fileops::listDirectory(folder);
    if (!entries || depth > 256) {
        return;
    }
    for (const auto& name : *entries) {
        std::string item = fileops::joinPath(folder, name);
        if (isRealFolder(item)) {
            // Folders (packages too) are searched, never trashed; a link to a folder is
            // never followed.
            trashMatching(item, matches, trashed, depth + 1);
        } else if (matches(name)) {
            OWFileManager::trashFile(item);
            trashed.push_back(item);
        }
    }
}

bool isIgnorableEntry(const std::string& name) {
    return name == ".DS_Store" || name == "Icon\r";
}

bool folderIsEmpty(const std::string& folder, int depth) {
    auto entries = fileops::listDirectory(folder);
    if (!entries || entries->empty()) {
        return true;
    }
    for (const auto& name : *entries) {
        if (isIgnorableEntry(name)) {
            continue;
        }
        std::string item = fileops::joinPath(folder, name);
        if (!isRealFolder(item) || depth > 256 || !folderIsEmpty(item, depth + 1)) {
            return false;
        }
    }
    return true;
}

}  // namespace

// ---- queries ----

bool OWFileManager::fileExistsAtPath(const std::string& path) {
    return fileops::exists(path);
}

bool OWFileManager::isDirectoryAtPath(const std::string& path) {
    return fileops::isDirectory(path);
}

bool OWFileManager::isPackageAtPath(const std::string& path) {
    if (!fileops::isDirectory(path)) {
        return false;
    }
    static constexpr std::array<std::string_view, 10> kPackageExtensions = {
        "app", "bundle", "plugin", "framework", "fcpbundle", "pkg", "rtfd", "appex", "xpc", "kext"};
    std::string ext = lowercase(fileops::pathExtension(path));
    if (std::find(kPackageExtensions.begin(), kPackageExtensions.end(), ext) !=
        kPackageExtensions.end()) {
        return true;
    }
    return fileops::exists(fileops::joinPath(path, "Contents/Info.plist"));
}

bool OWFileManager::isSymbolicLinkAtPath(const std::string& path) {
    return fileops::isSymbolicLink(path);
}

std::optional<base::Date> OWFileManager::modificationDateForFile(const std::string& path) {
    auto info = fileops::itemInfo(path);
    if (!info) {
        return std::nullopt;
    }
    return base::Date{info->modified};
}

std::optional<base::Date> OWFileManager::creationDateForFile(const std::string& path) {
    auto info = fileops::itemInfo(path);
    if (!info || !info->created) {
        return std::nullopt;
    }
    return base::Date{*info->created};
}

uint64_t OWFileManager::fileSize(const std::string& path) {
    return fileops::treeSize(path);
}

// ---- trash ----

bool OWFileManager::trashFile(const std::string& path, bool shouldAuth) {
    unlockFile(path);
    if (!fileops::existsOrIsLink(path)) {
        return true;
    }
    platform::system::Trash trash(OWLocalPaths::trashDirectory());
    if (trash.moveToTrash(path)) {
        return true;
    }
    return shouldAuth && OWAuthorization::sharedController().authTrashFile(path);
}

bool OWFileManager::trashFile(const std::string& path, Seconds timeout) {
    if (!trashFile(path)) {
        return false;
    }
    return waitFor([&] { return !fileops::existsOrIsLink(path); }, timeout);
}

bool OWFileManager::trashDirectoryContents(const std::string& folder, bool shouldAuth) {
    auto entries = fileops::listDirectory(folder);
    if (!entries) {
        return true;
    }
    bool all = true;
    for (const auto& name : *entries) {
        all = trashFile(fileops::joinPath(folder, name), shouldAuth) && all;
    }
    return all;
}

std::vector<std::string> OWFileManager::trashFilesOfType(const std::string& extension,
                                                         const std::string& folder) {
    std::vector<std::string> trashed;
    const std::string wanted = lowercase(extension);
    trashMatching(
        folder,
        [&](const std::string& name) { return lowercase(fileops::pathExtension(name)) == wanted; },
        trashed, 0);
    return trashed;
}

std::vector<std::string> OWFileManager::trashFilesNamed(const std::string& name,
                                                        const std::string& folder) {
    std::vector<std::string> trashed;
    trashMatching(
        folder, [&](const std::string& entry) { return entry == name; }, trashed, 0);
    return trashed;
}

// ---- delete ----

bool OWFileManager::removeFile(const std::string& path, bool shouldAuth) {
    unlockFile(path);
    if (!fileops::existsOrIsLink(path)) {
        return true;
    }
    auto status = fileops::removeTree(path);
    if (status) {
        return true;
    }
    OWLog::appendLog("Error removing file: %@. Authorizing...", status.description());
    return shouldAuth && OWAuthorization::sharedController().authRemoveFile(path);
}

bool OWFileManager::removeFile(const std::string& path, Seconds timeout) {
    if (!removeFile(path)) {
        return false;
    }
    return waitFor([&] { return !fileops::existsOrIsLink(path); }, timeout);
}

bool OWFileManager::isFolderEmpty(const std::string& folder) {
    return folderIsEmpty(folder, 0);
}

bool OWFileManager::removeFolderIfEmpty(const std::string& folder) {
    return isFolderEmpty(folder) && removeFile(folder);
}

// ---- folders ----

bool OWFileManager::createDirectory(const std::string& path, bool shouldAuth) {
    if (!isDriveMountedForPath(path)) {
        base::Console::log("Unable to create directory. Drive is not mounted.");
        return false;
    }
    auto status = fileops::createDirectories(path);
    if (status) {
        return true;
    }
    OWLog::appendLog("Error creating folder: %@. Authorizing...", status.description());
    return shouldAuth && OWAuthorization::sharedController().authCreateDir(path);
}

bool OWFileManager::createDirectory(const std::string& path, Seconds timeout) {
    if (!createDirectory(path)) {
        return false;
    }
    return waitFor([&] { return fileops::exists(path); }, timeout);
}

std::string OWFileManager::createDirectoryStructure(const std::string& path,
                                                    const std::string& destination) {
    bool plainFolder = isDirectoryAtPath(path) && !isPackageAtPath(path);
    std::string relative = plainFolder ? path : fileops::parentPath(path);
    std::string result = fileops::joinPath(destination, relative);
    if (!fileops::exists(result)) {
        createDirectory(result);
    }
    return result;
}

// ---- copy ----

bool OWFileManager::copyFile(const std::string& source, const std::string& destination,
                             bool shouldAuth) {
    if (source.empty()) {
        OWLog::appendLogAndPrint("Error copying file: source path is nil");
        return false;
    }
    if (destination.empty()) {
        OWLog::appendLogAndPrint("Error copying file %@: destination path is nil", source);
        return false;
    }
    unlockFile(fileops::parentPath(destination));
    auto status = fileops::copyTree(source, destination);
    if (status) {
        return true;
    }
    OWLog::appendLog("Error copying file: %@. Authorizing...", status.description());
    return shouldAuth && OWAuthorization::sharedController().authCopyFile(source, destination);
}

bool OWFileManager::copyFile(const std::string& source, const std::string& destination,
                             Seconds timeout) {
    if (!copyFile(source, destination)) {
        return false;
    }
    return waitFor([&] { return fileops::existsOrIsLink(destination); }, timeout);
}

bool OWFileManager::copyContentsOfDirectory(const std::string& source,
                                            const std::string& destination, Seconds timeout) {
    auto entries = fileops::listDirectory(source);
    if (!entries) {
        return true;
    }
    for (const auto& name : *entries) {
        OWLog::fastAppendLog("File: %@", name);
        if (!copyFile(fileops::joinPath(source, name), fileops::joinPath(destination, name),
                      timeout)) {
            return false;
        }
    }
    return true;
}

// ---- move ----

bool OWFileManager::moveFile(const std::string& source, const std::string& destination,
                             bool shouldAuth) {
    if (fileops::existsOrIsLink(destination)) {
        unlockFile(destination);
    }
    unlockFolder(fileops::joinPath(destination, fileops::lastComponent(source)));
    if (isCaseOnlyRename(source, destination)) {
        std::string detour = uniqueFilename(destination);
        if (fileops::moveItem(source, detour)) {
            if (fileops::moveItem(detour, destination)) {
                return true;
            }
            fileops::moveItem(detour, source);  // put it back under its old name
        }
    }
    auto status = fileops::moveItem(source, destination);
    if (status) {
        return true;
    }
    OWLog::appendLog("Error moving file: %@.", status.description());
    if (!shouldAuth) {
        return false;
    }
    OWLog::appendLog("Authorizing...");
    return OWAuthorization::sharedController().authMoveFile(source, destination);
}

bool OWFileManager::moveFile(const std::string& source, const std::string& destination,
                             Seconds timeout) {
    bool caseOnly = isCaseOnlyRename(source, destination);
    if (!moveFile(source, destination)) {
        return false;
    }
    if (caseOnly) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        return true;
    }
    return waitFor([&] { return !fileops::existsOrIsLink(source); }, timeout);
}

// ---- names and dates ----

bool OWFileManager::createEmptyFile(const std::string& path) {
    std::string temp = OWLocalPaths::tempFile();
    if (!fileops::createEmptyFile(temp)) {
        return false;
    }
    if (moveFile(temp, path)) {
        return true;
    }
    fileops::removeTree(temp);
    return false;
}

std::string OWFileManager::uniqueFilename(const std::string& path) {
    if (!fileops::existsOrIsLink(path)) {
        return path;
    }
    const std::string stem = fileops::deletingPathExtension(path);
    const std::string ext = fileops::pathExtension(path);
    for (long n = 2;; ++n) {
        std::string candidate = base::format("%@ %li", stem, n);
        if (!ext.empty()) {
            candidate += "." + ext;
        }
        if (!fileops::existsOrIsLink(candidate)) {
            return candidate;
        }
    }
}

bool OWFileManager::setModificationDate(base::Date date, const std::string& path) {
    return fileops::setModificationTime(path, date.secondsSince1970).ok();
}
