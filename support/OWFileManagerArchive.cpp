// Archives, extended attributes, disk queries, touching, waiting for writes, labels,
// wildcard paths and name helpers.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "base/Console.h"
#include "base/Format.h"
#include "base/TextEncoding.h"
#include "platform/system/Archive.h"
#include "platform/system/FileOps.h"
#include "platform/system/OpenFiles.h"
#include "platform/system/Trash.h"
#include "platform/system/Volume.h"
#include "platform/system/XAttr.h"
#include "support/OWAuthorization.h"
#include "support/OWFileManager.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"
#include "support/OWTaskEx.h"

namespace fileops = platform::system::fileops;
namespace volume = platform::system::volume;
namespace xattr = platform::system::xattr;

namespace {

constexpr const char* kProgressAttribute = "com.apple.progress.fractionCompleted";
constexpr const char* kLabelAttribute = "user.oxburyworks.label";
constexpr auto kPollInterval = std::chrono::milliseconds(50);

// The platform's like-test: "*" any run of characters, "?" one, case-sensitive.
bool isLike(std::string_view name, std::string_view pattern) {
    size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::string trimWhitespace(const std::string& text) {
    auto isSpace = [](unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    size_t start = 0;
    while (start < text.size() && isSpace(static_cast<unsigned char>(text[start]))) {
        ++start;
    }
    size_t end = text.size();
    while (end > start && isSpace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    return text.substr(start, end - start);
}

void removeAll(std::string& text, char c) {
    std::erase(text, c);
}

double secondsSince(const base::Date& date) {
    return base::Date::now().secondsSince1970 - date.secondsSince1970;
}

}  // namespace

// ---- references and notifications ----

void OWFileManager::notifyFileSystemChanged(const std::string&) {}

std::optional<OWFileManager::FSRef> OWFileManager::stringToFSRef(const std::string& path) {
    if (!fileops::existsOrIsLink(path)) {
        return std::nullopt;
    }
    return FSRef{path};
}

std::string OWFileManager::stringWithFSRef(const FSRef& ref) {
    return ref.path;
}

std::optional<std::string> OWFileManager::volumeMountPointForPath(const std::string& path) {
    const volume::MountEntry* best = nullptr;
    auto volumes = volume::localVolumes(volume::currentMounts());
    for (const auto& m : volumes) {
        if (m.mountPoint == "/") {
            continue;
        }
        bool inside = path == m.mountPoint || path.rfind(m.mountPoint + "/", 0) == 0;
        if (inside && (!best || m.mountPoint.size() >= best->mountPoint.size())) {
            best = &m;
        }
    }
    if (best) {
        return best->mountPoint;
    }
    if (path.rfind("/Volumes", 0) == 0) {
        return std::nullopt;
    }
    return "/";
}

// ---- zip ----

bool OWFileManager::compressFile(const std::string& source, const std::string& archive,
                                 bool includeParent) {
    if (fileops::existsOrIsLink(archive)) {
        trashFile(archive);
    }
    auto status = platform::system::archive::zip(source, archive, includeParent);
    if (!status) {
        OWLog::appendLog("Unable to compress %@: %@", source, status.description());
        return false;
    }
    return fileops::exists(archive);
}

bool OWFileManager::decompressFile(const std::string& archive, const std::string& folder) {
    if (fileops::existsOrIsLink(folder)) {
        // As the archiver did: the old folder goes to the Trash, no unlock, no privileges.
        platform::system::Trash(OWLocalPaths::trashDirectory()).moveToTrash(folder);
    }
    bool created = !fileops::existsOrIsLink(folder);
    auto status = platform::system::archive::unzip(archive, folder);
    if (!status) {
        OWLog::appendLog("Unable to decompress %@: %@", archive, status.description());
        if (created) {
            fileops::removeTree(folder);
        }
        return false;
    }
    return fileops::isDirectory(folder);
}

// ---- attributes ----

void OWFileManager::setPosixPermissions(unsigned mode, const std::string& path) {
    auto status = fileops::setPermissions(path, static_cast<mode_t>(mode));
    if (!status) {
        OWLog::appendLog("Error setting permissions for file %@: %@", path, status.description());
    }
}

void OWFileManager::disableFileSystemCachingForFile(const std::string&) {}

std::optional<std::string> OWFileManager::metadataValueForKey(const std::string& key,
                                                              const std::string& path) {
    long size = xattr::size(path, key);
    int err = errno;
    base::Console::log("buffer val: %i", size);
    if (size < 0) {
        base::Console::log("Error retrieving file attribute: %i", err);
        return std::nullopt;
    }
    if (size == 0) {
        return std::nullopt;
    }
    auto value = xattr::get(path, key);
    if (!value || !base::TextEncoding::isValidUtf8(*value)) {
        return std::nullopt;
    }
    return value;
}

bool OWFileManager::setMetadataValue(const std::string& value, const std::string& key,
                                     const std::string& path) {
    if (xattr::set(path, key, value)) {
        return true;
    }
    base::Console::log("Error setting extended attribute for file %@ - %i", path, -1);
    return false;
}

void OWFileManager::setFinderProgress(float fraction, const std::string& path) {
    if (fraction >= 0) {
        xattr::set(path, kProgressAttribute, base::format("%0.3f", fraction));
    } else {
        xattr::remove(path, kProgressAttribute);
    }
}

void OWFileManager::removeFinderProgressForFile(const std::string& path) {
    setFinderProgress(-1.0f, path);
}

// ---- disks ----

std::optional<base::Value> OWFileManager::infoForDiskAtMountpoint(const std::string& mountPoint) {
    auto mounts = volume::currentMounts();
    auto mount = volume::mountForPath(mountPoint, mounts);
    if (!mount || mount->mountPoint != mountPoint) {
        return std::nullopt;
    }
    auto space = volume::diskSpace(mountPoint);
    if (!space) {
        return std::nullopt;
    }
    std::string name = mountPoint == "/" ? "/" : fileops::lastComponent(mountPoint);
    base::Dictionary info{
        {"MountPoint", base::Value(mount->mountPoint)},
        {"VolumeName", base::Value(name)},
        {"FilesystemType", base::Value(mount->fsType)},
        {"DeviceNode", base::Value(mount->source)},
        {"TotalSize", base::Value(space->totalBytes)},
        {"FreeSpace", base::Value(space->freeBytes)},
        {"AvailableSpace", base::Value(space->availableBytes)},
        {"VolumeAllocationBlockSize", base::Value(space->blockSize)},
        {"WritableVolume", base::Value(!space->readOnly && !mount->readOnly)},
    };
    return base::Value(std::move(info));
}

std::string OWFileManager::formatFileSize(double bytes) {
    if (bytes < 1024) {
        return base::format("%0.0f B", bytes);
    }
    if (bytes < 1048576) {
        return base::format("%0.2f KB", bytes / 1024);
    }
    if (bytes < 1073741824) {
        return base::format("%0.2f MB", bytes / 1048576);
    }
    if (bytes < 1099511627776.0) {
        return base::format("%0.2f GB", bytes / 1073741824);
    }
    return base::format("%0.2f TB", bytes / 1099511627776.0);
}

// ---- wildcards and names ----

std::vector<std::string> OWFileManager::filesMatchingWildcardPath(
    const std::string& pattern, const std::optional<std::string>& base, bool) {
    if (pattern.find('*') == std::string::npos) {
        return {base ? fileops::joinPath(*base, pattern) : pattern};
    }
    const std::string start = base.value_or("/");
    std::vector<std::string> candidates{start};
    for (const auto& component : fileops::pathComponents(pattern)) {
        std::vector<std::string> next;
        if (component == "/") {
            next.push_back(start);
        } else if (component.find('*') != std::string::npos) {
            for (const auto& folder : candidates) {
                auto entries = fileops::listDirectory(folder);
                for (const auto& name : entries.value_or(std::vector<std::string>{})) {
                    std::string item = fileops::joinPath(folder, name);
                    if (isLike(name, component) && fileops::exists(item)) {
                        next.push_back(item);
                    }
                }
            }
        } else {
            for (const auto& folder : candidates) {
                std::string item = fileops::joinPath(folder, component);
                if (fileops::exists(item)) {
                    next.push_back(item);
                }
            }
        }
        candidates = std::move(next);
        if (candidates.empty()) {
            break;
        }
    }
    return candidates;
}

std::optional<std::string> OWFileManager::decodeWildcardPath(
    const std::string& pattern, const std::optional<std::string>& base) {
    auto matches = filesMatchingWildcardPath(pattern, base, false);
    if (!matches.empty()) {
        return matches.front();
    }
    if (!base) {
        return std::nullopt;
    }
    return fileops::joinPath(*base, pattern);
}

std::string OWFileManager::validateFilename(const std::string& name) {
    if (name == ".") {
        return "";
    }
    std::string cleaned = !name.empty() && name[0] == '.' ? name.substr(1) : name;
    cleaned = trimWhitespace(cleaned);
    removeAll(cleaned, '/');
    removeAll(cleaned, ':');
    return cleaned;
}

// ---- touching and waiting ----

bool OWFileManager::touchFile(const std::string& path, bool) {
    if (path.empty()) {
        return false;
    }
    // Creation dates cannot be set on Linux; the flag changes nothing here.
    bool touched;
    const std::vector<std::string> arguments = {"-c", "--", path};
    if (fileops::isWritable(path)) {
        OWTaskEx::runTask("/usr/bin/touch", arguments, 5.0);
        touched = true;
    } else {
        touched = OWAuthorization::sharedController().authExecTask("/usr/bin/touch", arguments,
                                                                   false) == 0;
    }
    notifyFileSystemChanged(path);
    return touched;
}

bool OWFileManager::registerApplicationWithLaunchServices(const std::string& path) {
    // Applications are found through their installed desktop entries; nothing to
    // register at run time.
    return fileops::exists(path);
}

void OWFileManager::waitForFileCreation(const std::string& path, int64_t timeoutSeconds) {
    auto created = [&] {
        auto info = fileops::targetInfo(path);
        return info && info->size > 0;
    };
    if (created()) {
        return;
    }
    OWLog::appendLog("File %@ is not yet created. Waiting...", path);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (!created() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kPollInterval);
    }
}

void OWFileManager::waitForFileWrites(const std::string& path,
                                      const std::optional<std::string>& lockFile) {
    auto recentlyChanged = [&] {
        auto date = modificationDateForFile(path);
        return date && secondsSince(*date) <= 5.0;
    };
    bool lockPresent = lockFile && fileops::existsOrIsLink(*lockFile);
    if (!recentlyChanged() && !lockPresent) {
        return;
    }
    OWLog::appendLog("File %@ is currently being written to. Waiting...", path);
    // While the file is missing, the lock file is what says the writer is busy.
    auto busy = [&] {
        if (!fileops::existsOrIsLink(path)) {
            return lockFile && fileops::existsOrIsLink(*lockFile);
        }
        return recentlyChanged();
    };
    const auto start = std::chrono::steady_clock::now();
    while (busy() && std::chrono::steady_clock::now() - start <
                         std::chrono::duration<double>(kMaxWriteWaitSeconds)) {
        std::this_thread::sleep_for(kPollInterval);
    }
    OWLog::appendLog("File %@ finished writing.", path);
}

bool OWFileManager::fileIsOpenForWriting(const std::string& path) {
    const auto output = OWTaskEx::stringFromTask("/usr/bin/lsof", {"-Fa", "-w", "--", path},
                                                 OWTaskEx::Encoding::UTF8, 3.0, true, false);
    return platform::system::openfiles::anyWriteAccess(output.value_or(""));
}

// ---- labels ----

int64_t OWFileManager::finderColorIndexForPath(const std::string& path) {
    auto value = xattr::get(path, kLabelAttribute);
    if (!value || value->size() != 1 || (*value)[0] < '0' || (*value)[0] > '7') {
        return 0;
    }
    return (*value)[0] - '0';
}

void OWFileManager::setFinderColorIndex(int64_t index, const std::string& path) {
    if (path.empty()) {
        return;
    }
    if (index <= 0 || index > 7) {
        xattr::remove(path, kLabelAttribute);
    } else {
        xattr::set(path, kLabelAttribute, std::to_string(index));
    }
}

std::optional<OWFileManager::HSBColor> OWFileManager::finderColorForPath(const std::string& path) {
    // Label numbers count 1 to 7; the colour table is indexed by twice that.
    return finderColorForColorIndex(finderColorIndexForPath(path) * 2);
}

std::optional<OWFileManager::HSBColor> OWFileManager::finderColorForColorIndex(int64_t index) {
    switch (index & ~int64_t{1}) {
        case 2:
            return HSBColor{0, 0, 0.72};
        case 4:
            return HSBColor{0.2056, 0.5, 0.85};
        case 6:
            return HSBColor{0.7917, 0.26, 0.86};
        case 8:
            return HSBColor{0.5789, 0.56, 0.98};
        case 10:
            return HSBColor{0.1388, 0.54, 0.95};
        case 12:
            return HSBColor{0.0083, 0.54, 1.0};
        case 14:
            return HSBColor{0.0888, 0.52, 0.98};
        default:
            return std::nullopt;
    }
}
