#pragma once
// Mounted volumes from /proc/self/mountinfo and their space from statvfs.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::system::volume {

struct MountEntry {
    std::string mountPoint;  // octal escapes ("\040") decoded
    std::string root;        // the part of the file system mounted there
    std::string fsType;
    std::string source;
    std::string mountOptions;
    unsigned major = 0;
    unsigned minor = 0;
    bool readOnly = false;
};

// Parses mountinfo text. Malformed lines are skipped; at most kMaxMountLines lines
// and kMaxMountInfoBytes bytes are read.
inline constexpr size_t kMaxMountLines = 100000;
inline constexpr size_t kMaxMountInfoBytes = 16u << 20;
std::vector<MountEntry> parseMountInfo(std::string_view text);
// The mounts of this process (empty when /proc is missing).
std::vector<MountEntry> currentMounts();

// Pseudo and network file systems are not local volumes.
bool isLocalFileSystem(const MountEntry& mount);
// The local volumes in mount order.
std::vector<MountEntry> localVolumes(const std::vector<MountEntry>& mounts);

// The mount holding the path: the longest mount point that is the path or one of its
// parents ("/" matches everything). The path is compared as written.
std::optional<MountEntry> mountForPath(const std::string& path,
                                       const std::vector<MountEntry>& mounts);

struct DiskSpace {
    uint64_t totalBytes = 0;
    uint64_t freeBytes = 0;       // including blocks kept for root
    uint64_t availableBytes = 0;  // for unprivileged users
    uint64_t blockSize = 0;
    bool readOnly = false;
};
std::optional<DiskSpace> diskSpace(const std::string& path);

}  // namespace platform::system::volume
