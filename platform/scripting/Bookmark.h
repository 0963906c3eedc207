#pragma once
// Bookmark data: how the editor names the files it opens in the share destination (a
// 'bmrk' descriptor). Version 1 is UTF-8 text of two lines:
//   QVBK 1
//   url file:///path/to/Movie.mov
// each ended by a line feed. Readers take any version from 1 up whose second line is
// the URL, and refuse data over kMaxSize bytes.
#include <optional>
#include <string>

#include "base/Value.h"
#include "platform/scripting/FileURL.h"

namespace platform::scripting::bookmark {

inline constexpr size_t kMaxSize = 64 * 1024;
inline constexpr int kVersion = 1;

base::Data create(const FileURL& url);
// The file the data names; a file that no longer exists is still named (stale).
std::optional<FileURL> resolve(const base::Data& data);

}  // namespace platform::scripting::bookmark
