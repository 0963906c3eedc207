#pragma once
// Extended attributes through <sys/xattr.h>, links followed. Names without a
// namespace ("com.example.tag") are user attributes ("user.com.example.tag").
#include <optional>
#include <string>

#include "platform/system/FsStatus.h"

namespace platform::system::xattr {

std::string qualifiedName(const std::string& name);

// The attribute's bytes; an empty optional with `error` set to the errno value
// (ENODATA when the item has no such attribute).
std::optional<std::string> get(const std::string& path, const std::string& name,
                               int* error = nullptr);
// The size the attribute has now, or -1 with errno.
long size(const std::string& path, const std::string& name);
// Creates or replaces.
FsStatus set(const std::string& path, const std::string& name, const std::string& value);
FsStatus remove(const std::string& path, const std::string& name);

}  // namespace platform::system::xattr
