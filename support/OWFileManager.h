#pragma once
// The support library's file utilities: queries, trash, delete, folders, copy and
// move with a privileged fallback, waiting variants, zip archives, extended
// attributes, disk and volume queries, locks (the immutable flag) and small name
// helpers. Class operations only; every one stands alone and may be called from any
// thread. Paths are absolute; an empty path stands for none.
//
// The changing operations try the ordinary way first; when that fails and
// `shouldAuth` allows it they repeat the work through OWAuthorization. Moves and
// copies never replace an existing destination on the ordinary road; the
// privileged road (mv -f, cp -f) does.
//
// The waiting variants take a time-out in whole seconds and poll until the change
// shows on disk: on the main thread they serve the modal-panel run-loop mode every
// 0.01 seconds, elsewhere they sleep 0.3 seconds between checks.
//
// Creation dates are read from the file system's birth time; Linux offers no way to
// set one, so nothing here sets them.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Value.h"

namespace platform::crypto {
class Digest;
}
class OWFileCopyDelegate;
class OWFileCopySettings;

class OWFileManager {
  public:
    using Seconds = std::chrono::seconds;

    // A reference to an existing item (the stand-in of the platform's opaque one).
    struct FSRef {
        std::string path;
    };
    // A calibrated hue-saturation-brightness colour.
    struct HSBColor {
        double hue = 0;
        double saturation = 0;
        double brightness = 0;
        double alpha = 1.0;
        friend bool operator==(const HSBColor&, const HSBColor&) = default;
    };

    OWFileManager() = delete;

    // ---- Queries, trash, delete, folders, copy, move ----
    static bool fileExistsAtPath(const std::string& path);
    static bool isDirectoryAtPath(const std::string& path);
    // A folder whose extension is app, bundle, plugin, framework, fcpbundle, pkg,
    // rtfd, appex, xpc or kext, or that holds "Contents/Info.plist".
    static bool isPackageAtPath(const std::string& path);
    static bool isSymbolicLinkAtPath(const std::string& path);
    static std::optional<base::Date> modificationDateForFile(const std::string& path);
    static std::optional<base::Date> creationDateForFile(const std::string& path);

    static bool trashFile(const std::string& path, bool shouldAuth = true);
    static bool trashFile(const std::string& path, Seconds timeout);
    static bool trashDirectoryContents(const std::string& folder, bool shouldAuth = true);
    static std::vector<std::string> trashFilesOfType(const std::string& extension,
                                                     const std::string& folder);
    static std::vector<std::string> trashFilesNamed(const std::string& name,
                                                    const std::string& folder);

    static bool removeFile(const std::string& path, bool shouldAuth = true);
    static bool removeFile(const std::string& path, Seconds timeout);
    static bool isFolderEmpty(const std::string& folder);
    static bool removeFolderIfEmpty(const std::string& folder);

    static bool createDirectory(const std::string& path, bool shouldAuth = true);
    static bool createDirectory(const std::string& path, Seconds timeout);
    static std::string createDirectoryStructure(const std::string& path,
                                                const std::string& destination);

    static bool copyFile(const std::string& source, const std::string& destination,
                         bool shouldAuth = true);
    static bool copyFile(const std::string& source, const std::string& destination,
                         Seconds timeout);
    static bool copyContentsOfDirectory(const std::string& source, const std::string& destination,
                                        Seconds timeout);
    static uint64_t fileSize(const std::string& path);

    static bool moveFile(const std::string& source, const std::string& destination,
                         bool shouldAuth = true);
    static bool moveFile(const std::string& source, const std::string& destination,
                         Seconds timeout);

    static bool createEmptyFile(const std::string& path);
    static std::string uniqueFilename(const std::string& path);
    static bool setModificationDate(base::Date date, const std::string& path);

    // A plain integer would silently become `shouldAuth`: time-outs are Seconds.
    static bool trashFile(const std::string&, int) = delete;
    static bool removeFile(const std::string&, int) = delete;
    static bool createDirectory(const std::string&, int) = delete;
    static bool copyFile(const std::string&, const std::string&, int) = delete;
    static bool moveFile(const std::string&, const std::string&, int) = delete;

    // ---- Archives, extended attributes, disk queries ----
    // Desktop file managers watch the disk themselves: nothing to tell them.
    static void notifyFileSystemChanged(const std::string& path);
    static std::optional<FSRef> stringToFSRef(const std::string& path);
    static std::string stringWithFSRef(const FSRef& ref);
    // The mount point of the local volume holding the path (the longest matching one,
    // "/" not counted); without one none for a path under "/Volumes", else "/".
    static std::optional<std::string> volumeMountPointForPath(const std::string& path);

    // Zips a file or folder. An existing archive is trashed first. True only when the
    // archiver finished and the archive exists; a failed one leaves no archive.
    static bool compressFile(const std::string& source, const std::string& archive,
                             bool includeParent = true);
    // Unpacks into a folder; an existing folder of that name is trashed first. A failed
    // extraction removes what it made.
    static bool decompressFile(const std::string& archive, const std::string& folder);

    static void setPosixPermissions(unsigned mode, const std::string& path);
    static void disableFileSystemCachingForFile(const std::string& path);
    // Names without a namespace are user attributes ("user." + name).
    static std::optional<std::string> metadataValueForKey(const std::string& key,
                                                          const std::string& path);
    static bool setMetadataValue(const std::string& value, const std::string& key,
                                 const std::string& path);
    // The progress marker is the attribute "com.apple.progress.fractionCompleted"
    // holding the fraction as "%0.3f"; a negative fraction removes it.
    static void setFinderProgress(float fraction, const std::string& path);
    static void removeFinderProgressForFile(const std::string& path);
    // "MountPoint", "VolumeName", "FilesystemType", "DeviceNode", "TotalSize",
    // "FreeSpace", "AvailableSpace", "VolumeAllocationBlockSize", "WritableVolume";
    // none when the path is not a mount point.
    static std::optional<base::Value> infoForDiskAtMountpoint(const std::string& mountPoint);
    static std::string formatFileSize(double bytes);

    static std::optional<std::string> decodeWildcardPath(const std::string& pattern,
                                                         const std::optional<std::string>& base);
    static std::vector<std::string> filesMatchingWildcardPath(
        const std::string& pattern, const std::optional<std::string>& base = std::nullopt,
        bool searchSubdirs = false);
    static std::string validateFilename(const std::string& name);

    static bool touchFile(const std::string& path, bool setCreationDate = false);
    static bool registerApplicationWithLaunchServices(const std::string& path);
    static void waitForFileCreation(const std::string& path, int64_t timeoutSeconds);
    static void waitForFileWrites(const std::string& path,
                                  const std::optional<std::string>& lockFile = std::nullopt);
    static bool fileIsOpenForWriting(const std::string& path);

    // Label numbers 0 to 7 live in the attribute "user.oxburyworks.label".
    static std::optional<HSBColor> finderColorForPath(const std::string& path);
    static int64_t finderColorIndexForPath(const std::string& path);
    static void setFinderColorIndex(int64_t index, const std::string& path);
    static std::optional<HSBColor> finderColorForColorIndex(int64_t index);

    // ---- Locks and volume checks ----
    static bool isVolumeMountedForPath(const std::string& path);
    static bool isFileLocked(const std::string& path);
    static void lockFile(const std::string& path);
    static void unlockFile(const std::string& path);
    static void lockFolder(const std::string& folder);
    static void unlockFolder(const std::string& folder);
    static bool isDriveMountedForPath(const std::string& path);

    // How long waitForFileWrites() waits at most for a file that keeps changing.
    static constexpr double kMaxWriteWaitSeconds = 3600;

    // ==== Verified copy with progress (OWFileManagerVerifiedCopy.cpp) ====
    // Copies one file to every destination in a single pass over the source, reporting
    // progress to the delegate (which may cancel) and, with a verification type of 1 to
    // 4, checking each destination with a digest of the bytes read back from it. Blocks
    // the caller; progress and should-continue calls run on a worker queue meanwhile.
    // A destination that is the source (or a link to it), a destination listed twice,
    // a failed write and a verification type above 4 all answer false.
    enum VerificationType : uint64_t {
        kVerifyNone = 0,
        kVerifyMD5 = 1,
        kVerifySHA1 = 2,
        kVerifySHA256 = 3,
        kVerifySHA512 = 4,
    };
    static bool copyFileWithProgress(const std::string& source, const std::string& destination,
                                     std::shared_ptr<OWFileCopyDelegate> delegate,
                                     base::Value object = {}, base::Value object2 = {});
    static bool copyFileWithProgress(const std::string& source,
                                     const std::vector<std::string>& destinations,
                                     uint64_t verificationType,
                                     std::shared_ptr<OWFileCopyDelegate> delegate,
                                     base::Value object = {}, base::Value object2 = {});
    // Lower-case hexadecimal digest of what the state has been fed; the state itself
    // stays usable. "" when the state is of another kind.
    static std::string md5HashWithContext(const platform::crypto::Digest& context);
    static std::string sha1HashWithContext(const platform::crypto::Digest& context);
    static std::string sha256HashWithContext(const platform::crypto::Digest& context);
    static std::string sha512HashWithContext(const platform::crypto::Digest& context);
};

// ==== Verified copy: delegate and settings ====
// The settings of one copy, handed to every delegate call. Keys: "operationtype"
// ("copy"), "source", "destinations", "object", "object2" (when given), and after a
// verified copy "sourceChecksum", "destChecksums" and, on a mismatch, "destChecksum".
// Delegates may keep it; it is safe to read from any thread.
class OWFileCopySettings {
  public:
    OWFileCopySettings(base::Dictionary values, std::shared_ptr<OWFileCopyDelegate> delegate)
        : values_(std::move(values)), delegate_(std::move(delegate)) {}
    base::Value value(std::string_view key) const;
    base::Dictionary dictionary() const;
    void set(std::string key, base::Value value);
    // The "delegate" entry. Held weakly, so a delegate may keep its settings.
    std::shared_ptr<OWFileCopyDelegate> delegate() const { return delegate_.lock(); }

  private:
    mutable std::mutex mutex_;
    base::Dictionary values_;
    const std::weak_ptr<OWFileCopyDelegate> delegate_;
};

// Every method is optional. Progress and should-continue calls arrive on worker
// threads, possibly at once and after the copy returned; the final progress call,
// mismatch reports and the finished call arrive on the copying thread.
class OWFileCopyDelegate {
  public:
    using Settings = std::shared_ptr<OWFileCopySettings>;
    virtual ~OWFileCopyDelegate() = default;
    virtual void fileCopyBytesWritten(uint64_t /*bytes*/, const Settings& /*settings*/) {}
    // False cancels the copy.
    virtual bool fileCopyShouldContinue(const Settings& /*settings*/) { return true; }
    virtual void fileCopyVerificationFailed(const Settings& /*settings*/,
                                            const std::string& /*file*/) {}
    virtual void fileCopyFinished(const Settings& /*settings*/) {}
};
