#pragma once
// Unsigned big-endian integers inside a byte buffer, as binary property lists store
// their sizes, offsets and references.
#include <cstdint>
#include <optional>
#include <string_view>

namespace base {

// The `width`-byte integer at `offset`; none when it does not lie inside `bytes` or
// `width` is not 1 to 8.
inline std::optional<uint64_t> bigEndianAt(std::string_view bytes, uint64_t offset,
                                           uint64_t width) {
    if (width == 0 || width > 8 || offset > bytes.size() || width > bytes.size() - offset) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (uint64_t i = 0; i < width; ++i) {
        value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
    }
    return value;
}

}  // namespace base
