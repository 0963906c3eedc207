#include "platform/system/Volume.h"

#include <sys/statvfs.h>

#include <array>
#include <charconv>
#include <fstream>
#include <sstream>

namespace platform::system::volume {
namespace {

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size() && fields.size() < 64) {
        while (i < line.size() && line[i] == ' ') {
            ++i;
        }
        size_t start = i;
        while (i < line.size() && line[i] != ' ') {
            ++i;
        }
        if (i > start) {
            fields.push_back(line.substr(start, i - start));
        }
    }
    return fields;
}

// mountinfo writes blanks, tabs, newlines and backslashes as three octal digits.
std::string unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            std::string_view oct = field.substr(i + 1, 3);
            unsigned value = 0;
            auto [p, ec] = std::from_chars(oct.data(), oct.data() + oct.size(), value, 8);
            if (ec == std::errc() && p == oct.data() + 3 && value < 256) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

bool parseDevice(std::string_view field, unsigned& major, unsigned& minor) {
    size_t colon = field.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    auto a = std::from_chars(field.data(), field.data() + colon, major);
    auto b = std::from_chars(field.data() + colon + 1, field.data() + field.size(), minor);
    return a.ec == std::errc() && b.ec == std::errc();
}

bool hasOption(std::string_view options, std::string_view option) {
    size_t pos = 0;
    while (pos <= options.size()) {
        size_t comma = options.find(',', pos);
        std::string_view item = options.substr(
            pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        if (item == option) {
            return true;
        }
        if (comma == std::string_view::npos) {
            break;
        }
        pos = comma + 1;
    }
    return false;
}

std::optional<MountEntry> parseLine(std::string_view line) {
    // id parent major:minor root mountpoint options [optional...] - fstype source superopts
    auto f = splitFields(line);
    if (f.size() < 7) {
        return std::nullopt;
    }
    size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") {
        ++dash;
    }
    if (dash + 1 >= f.size()) {
        return std::nullopt;
    }
    MountEntry m;
    if (!parseDevice(f[2], m.major, m.minor)) {
        return std::nullopt;
    }
    m.root = unescape(f[3]);
    m.mountPoint = unescape(f[4]);
    m.mountOptions = std::string(f[5]);
    m.fsType = std::string(f[dash + 1]);
    m.source = dash + 2 < f.size() ? unescape(f[dash + 2]) : "";
    m.readOnly = hasOption(f[5], "ro");
    if (m.mountPoint.empty() || m.mountPoint[0] != '/') {
        return std::nullopt;
    }
    return m;
}

bool isPrefixFolder(const std::string& folder, const std::string& path) {
    if (folder == "/") {
        return !path.empty() && path[0] == '/';
    }
    if (path.compare(0, folder.size(), folder) != 0) {
        return false;
    }
    return path.size() == folder.size() || path[folder.size()] == '/';
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    if (text.size() > kMaxMountInfoBytes) {
        text = text.substr(0, kMaxMountInfoBytes);
    }
    std::vector<MountEntry> mounts;
    size_t pos = 0;
    size_t lines = 0;
    while (pos < text.size() && lines++ < kMaxMountLines) {
        size_t nl = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        if (auto m = parseLine(line)) {
            mounts.push_back(std::move(*m));
        }
        if (nl == std::string_view::npos) {
            break;
        }
        pos = nl + 1;
    }
    return mounts;
}

std::vector<MountEntry> currentMounts() {
    std::ifstream in("/proc/self/mountinfo");
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseMountInfo(text.str());
}

bool isLocalFileSystem(const MountEntry& mount) {
    static constexpr std::array<std::string_view, 30> kNotLocal = {
        "proc",    "sysfs",      "devtmpfs",   "devpts",  "cgroup",      "cgroup2",
        "pstore",  "bpf",        "tracefs",    "debugfs", "securityfs",  "configfs",
        "fusectl", "mqueue",     "hugetlbfs",  "autofs",  "binfmt_misc", "efivarfs",
        "nsfs",    "rpc_pipefs", "nfs",        "nfs4",    "cifs",        "smb3",
        "smbfs",   "sshfs",      "fuse.sshfs", "9p",      "ceph",        "selinuxfs"};
    for (auto t : kNotLocal) {
        if (mount.fsType == t) {
            return false;
        }
    }
    return true;
}

std::vector<MountEntry> localVolumes(const std::vector<MountEntry>& mounts) {
    std::vector<MountEntry> out;
    for (const auto& m : mounts) {
        if (isLocalFileSystem(m)) {
            out.push_back(m);
        }
    }
    return out;
}

std::optional<MountEntry> mountForPath(const std::string& path,
                                       const std::vector<MountEntry>& mounts) {
    const MountEntry* best = nullptr;
    for (const auto& m : mounts) {
        // ">=" so that of two mounts on one point the later, visible one wins.
        if (isPrefixFolder(m.mountPoint, path) &&
            (!best || m.mountPoint.size() >= best->mountPoint.size())) {
            best = &m;
        }
    }
    if (!best) {
        return std::nullopt;
    }
    return *best;
}

std::optional<DiskSpace> diskSpace(const std::string& path) {
    struct statvfs s {};
    if (::statvfs(path.c_str(), &s) != 0) {
        return std::nullopt;
    }
    DiskSpace d;
    uint64_t unit = s.f_frsize ? s.f_frsize : s.f_bsize;
    d.blockSize = unit;
    d.totalBytes = static_cast<uint64_t>(s.f_blocks) * unit;
    d.freeBytes = static_cast<uint64_t>(s.f_bfree) * unit;
    d.availableBytes = static_cast<uint64_t>(s.f_bavail) * unit;
    d.readOnly = (s.f_flag & ST_RDONLY) != 0;
    return d;
}

}  // namespace platform::system::volume
