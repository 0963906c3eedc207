// Immutable-flag locks and the volume mount checks.
#include <string_view>
#include <vector>

#include "platform/system/FileFlags.h"
#include "platform/system/FileOps.h"
#include "support/OWFileManager.h"
#include "support/OWLog.h"

namespace fileops = platform::system::fileops;
namespace fileflags = platform::system::fileflags;

namespace {

bool volumeFolderExists(const std::string& path, std::string_view prefix) {
    if (path.rfind(prefix, 0) != 0) {
        return true;
    }
    auto parts = fileops::pathComponents(path);
    if (parts.size() < 3) {
        return true;
    }
    return fileops::exists("/Volumes/" + parts[2]);
}

template <class Action>
void forEachInFolder(const std::string& folder, const Action& onFile, int depth) {
    auto entries = fileops::listDirectory(folder);
    if (!entries || depth > 256) {
        return;
    }
    for (const auto& name : *entries) {
        std::string item = fileops::joinPath(folder, name);
        auto info = fileops::itemInfo(item);
        if (info && info->kind == fileops::ItemKind::Directory) {
            forEachInFolder(item, onFile, depth + 1);  // never through a link
        } else {
            onFile(item);
        }
    }
}

}  // namespace

bool OWFileManager::isFileLocked(const std::string& path) {
    return fileflags::isImmutable(path).value_or(false);
}

void OWFileManager::lockFile(const std::string& path) {
    auto status = fileflags::setImmutable(path, true);
    if (!status) {
        OWLog::fastAppendLog("Unable to lock file %@: %@", path, status.description());
    }
}

void OWFileManager::unlockFile(const std::string& path) {
    // Only an item that carries the flag needs (and may fail) unlocking.
    if (!fileflags::isImmutable(path).value_or(false)) {
        return;
    }
    auto status = fileflags::setImmutable(path, false);
    if (!status) {
        OWLog::fastAppendLog("Unable to unlock file %@: %@", path, status.description());
    }
}

void OWFileManager::lockFolder(const std::string& folder) {
    forEachInFolder(
        folder, [](const std::string& item) { lockFile(item); }, 0);
}

void OWFileManager::unlockFolder(const std::string& folder) {
    forEachInFolder(
        folder, [](const std::string& item) { unlockFile(item); }, 0);
}

bool OWFileManager::isVolumeMountedForPath(const std::string& path) {
    return volumeFolderExists(path, "/Volumes");
}

bool OWFileManager::isDriveMountedForPath(const std::string& path) {
    return volumeFolderExists(path, "/Volumes/");
}
