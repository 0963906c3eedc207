#include "platform/system/XAttr.h"

#include <sys/xattr.h>

#include <cerrno>
#include <vector>

namespace platform::system::xattr {

std::string qualifiedName(const std::string& name) {
    for (const char* ns : {"user.", "trusted.", "security.", "system."}) {
        if (name.rfind(ns, 0) == 0) {
            return name;
        }
    }
    return "user." + name;
}

long size(const std::string& path, const std::string& name) {
    return static_cast<long>(::getxattr(path.c_str(), qualifiedName(name).c_str(), nullptr, 0));
}

std::optional<std::string> get(const std::string& path, const std::string& name, int* error) {
    const std::string full = qualifiedName(name);
    // Another writer may change the attribute between the size query and the read;
    // ask again then, a few times.
    for (int attempt = 0; attempt < 8; ++attempt) {
        ssize_t n = ::getxattr(path.c_str(), full.c_str(), nullptr, 0);
        if (n < 0) {
            break;
        }
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        ssize_t got = ::getxattr(path.c_str(), full.c_str(), buf.data(), buf.size());
        if (got >= 0 && got <= n) {
            return std::string(buf.data(), static_cast<size_t>(got));
        }
        if (got < 0 && errno != ERANGE) {
            break;
        }
        // Grew past our buffer (ERANGE) or by exactly one byte: measure again.
    }
    if (error) {
        *error = errno ? errno : EIO;
    }
    return std::nullopt;
}

FsStatus set(const std::string& path, const std::string& name, const std::string& value) {
    if (::setxattr(path.c_str(), qualifiedName(name).c_str(), value.data(), value.size(), 0) != 0) {
        return FsStatus::failure(errno, path);
    }
    return FsStatus::success();
}

FsStatus remove(const std::string& path, const std::string& name) {
    if (::removexattr(path.c_str(), qualifiedName(name).c_str()) != 0) {
        return FsStatus::failure(errno, path);
    }
    return FsStatus::success();
}

}  // namespace platform::system::xattr
