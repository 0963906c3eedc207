#pragma once
// Texts and paths as the host takes them: zero-terminated UTF-16 in fixed buffers.
#include <array>
#include <optional>
#include <string>

#include "apps/export_plugin/include/ExportControllerHost.h"

namespace exportplugin {

// The paths handed to the host's render live in buffers of this many code units.
inline constexpr size_t kPathBufferUnits = 256;
using PathBuffer = std::array<ecUTF16Char, kPathBufferUnits>;

// The text's UTF-16 code units in the machine's byte order, without a byte-order mark,
// followed by a zero unit; none when they do not fit the buffer whole (a cut path would
// name another file) or the text is not valid UTF-8 (a path with replacement
// characters would name another folder, or none).
std::optional<PathBuffer> copyConvertStringRefIntoUTF16(const std::string& text);

// The UTF-16 units of `text` as they stand (no terminator).
std::u16string utf16(const std::string& text);
// The same, none when `text` is not valid UTF-8.
std::optional<std::u16string> strictUtf16(const std::string& text);
// UTF-8 of a zero-terminated UTF-16 text, reading at most `maxUnits` units.
std::string utf8(const ecUTF16Char* text, size_t maxUnits);

// Whether the zero-terminated UTF-16 path names something that exists; false for an
// empty or relative path.
bool fileExists(const ecUTF16Char* path);

}  // namespace exportplugin
