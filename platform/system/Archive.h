#pragma once
// Zip archives in process (libarchive): deflate, links kept as links. Extraction
// never writes outside its folder: no "..", no absolute names, no writing through a
// link that an earlier entry made.
#include <cstddef>
#include <string>

#include "platform/system/FsStatus.h"

namespace platform::system::archive {

// Zips a file or a folder. With keepParent the entry names start with the source's
// last component ("Movie.fcpbundle/Info.plist"); without it they are relative to the
// folder (a single file is always stored under its own name). The archive is
// written to a temporary file beside it and put in place only when complete, so a
// failure leaves nothing at `archivePath`.
FsStatus zip(const std::string& source, const std::string& archivePath, bool keepParent);

// Unpacks a zip archive into a folder, made when missing. Stops at the first entry
// that is unsafe or cannot be written.
inline constexpr size_t kMaxEntries = 1'000'000;
inline constexpr size_t kMaxDepth = 256;
FsStatus unzip(const std::string& archivePath, const std::string& folder);

}  // namespace platform::system::archive
