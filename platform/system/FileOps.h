#pragma once
// Everyday POSIX file work with the semantics the file manager promises: moves and
// copies never replace what exists, links are copied as links, and no recursion
// ever descends through a symbolic link.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/system/FsStatus.h"

namespace platform::system::fileops {

enum class ItemKind { File, Directory, SymbolicLink, Other };

struct ItemInfo {
    ItemKind kind = ItemKind::Other;
    mode_t mode = 0;
    uint64_t size = 0;
    dev_t device = 0;
    ino_t inode = 0;
    double modified = 0;            // seconds since 1970
    std::optional<double> created;  // birth time, when the file system records one
};

// The item itself (a link is reported as a link).
std::optional<ItemInfo> itemInfo(const std::string& path);
// What the path leads to (links followed).
std::optional<ItemInfo> targetInfo(const std::string& path);

bool exists(const std::string& path);          // links followed
bool existsOrIsLink(const std::string& path);  // a dangling link counts
bool isDirectory(const std::string& path);     // links followed
bool isSymbolicLink(const std::string& path);
bool isSameItem(const std::string& a, const std::string& b);

// Entry names of a folder, sorted bytewise, without "." and "..".
std::optional<std::vector<std::string>> listDirectory(const std::string& path);
// Entry names, in the order read and without "." and "..", of the folder `dirFd` is
// open on (the descriptor stays the caller's); at most `most`. None when it cannot be
// read.
std::optional<std::vector<std::string>> listDirectoryAt(int dirFd, size_t most = SIZE_MAX);

// mkdir -p; an existing folder counts as success.
FsStatus createDirectories(const std::string& path, mode_t mode = 0777);
// Deletes an item and, for a folder, everything inside it; links are removed, never
// followed.
FsStatus removeTree(const std::string& path);
// Copies an item (a folder with its contents) to a destination that must not exist.
// Links stay links; modes, times and user attributes are kept. A copy that fails
// part-way leaves nothing at the destination.
FsStatus copyTree(const std::string& source, const std::string& destination);
// Renames without ever replacing the destination; across file systems it copies and
// then removes the source.
FsStatus moveItem(const std::string& source, const std::string& destination);
// Creates an empty file that must not exist yet.
FsStatus createEmptyFile(const std::string& path, mode_t mode = 0644);

FsStatus setModificationTime(const std::string& path, double secondsSince1970);
FsStatus setPermissions(const std::string& path, mode_t mode);
bool isWritable(const std::string& path);

// Sum of the sizes of regular files below a folder (links not followed), or the
// size of the item when it is not a folder. The path itself is followed.
uint64_t treeSize(const std::string& path);

// Path helpers.
std::string lastComponent(const std::string& path);
std::string parentPath(const std::string& path);
std::string joinPath(const std::string& folder, const std::string& name);
// "/" first for an absolute path, then the names; empty pieces (doubled or trailing
// slashes) are dropped.
std::vector<std::string> pathComponents(const std::string& path);
// The extension without its dot ("" when there is none; ".hidden" has none).
std::string pathExtension(const std::string& path);
std::string deletingPathExtension(const std::string& path);

}  // namespace platform::system::fileops
