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

// The count a binary property list's object stores after its marker at `offset`: the
// marker's low four bits, or, when they are all set, the integer object (0x1N and 2^N
// big-endian bytes, N at most 3) that follows. `start` is where the object's contents
// begin. None when the count cannot be read.
struct BinaryCount {
    uint64_t count;
    uint64_t start;
};
inline std::optional<BinaryCount> binaryCountAt(std::string_view bytes, uint64_t offset) {
    const auto marker = bigEndianAt(bytes, offset, 1);
    if (!marker) {
        return std::nullopt;
    }
    if ((*marker & 0x0f) != 0x0f) {
        return BinaryCount{*marker & 0x0f, offset + 1};
    }
    const auto intMarker = bigEndianAt(bytes, offset + 1, 1);
    if (!intMarker || (*intMarker >> 4) != 0x1 || (*intMarker & 0x0f) > 3) {
        return std::nullopt;
    }
    const uint64_t width = uint64_t{1} << (*intMarker & 0x0f);
    const auto value = bigEndianAt(bytes, offset + 2, width);
    if (!value) {
        return std::nullopt;
    }
    return BinaryCount{*value, offset + 2 + width};
}

}  // namespace base
