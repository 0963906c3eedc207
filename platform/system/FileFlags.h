#pragma once
// The immutable inode flag (FS_IMMUTABLE_FL), the lock a user can put on an item.
// Reading works for the owner; changing it needs CAP_LINUX_IMMUTABLE (root).
#include <optional>
#include <string>

#include "platform/system/FsStatus.h"

namespace platform::system::fileflags {

// Whether the item carries the flag; empty when the flags cannot be read (a link,
// a device, a file system without inode flags).
std::optional<bool> isImmutable(const std::string& path);
// Sets or clears the flag on a regular file or a folder (never through a link).
// Leaving the flag as it already is counts as success and changes nothing.
FsStatus setImmutable(const std::string& path, bool immutable);

}  // namespace platform::system::fileflags
