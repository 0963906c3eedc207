#pragma once
// Reading lsof's field output ("-Fa"): one "p<pid>" line per process and one
// "a<mode>" line per descriptor, the mode being "r", "w", "u" (read and write) or a
// blank. Only those access-mode lines count; anything else (a usage text, a
// warning) is ignored.
#include <cstddef>
#include <string_view>

namespace platform::system::openfiles {

inline constexpr size_t kMaxOutputBytes = 4u << 20;

bool anyWriteAccess(std::string_view lsofFieldOutput);

}  // namespace platform::system::openfiles
