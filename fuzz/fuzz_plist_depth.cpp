// Runs the nesting scan that guards libplist over arbitrary bytes, and checks it against
// the levels libplist then builds: whatever passes the scan must nest no deeper than the
// cap once parsed (read() refuses deeper trees after parsing too, as a second guard).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/PropertyList.h"
#include "base/PropertyListDepth.h"

namespace {

// A small cap makes deep inputs cheap to reach.
constexpr size_t kCap = 8;

size_t depthOf(const base::Value& value) {
    size_t deepest = 0;
    if (const base::Array* array = value.array()) {
        for (const base::Value& item : *array) {
            deepest = std::max(deepest, depthOf(item));
        }
        return deepest + 1;
    }
    if (const base::Dictionary* dictionary = value.dictionary()) {
        for (const auto& [key, item] : *dictionary) {
            deepest = std::max(deepest, depthOf(item));
        }
        return deepest + 1;
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!base::PropertyListDepth::within(bytes, kCap)) {
        return 0;
    }
    // Within the small cap, libplist may see it; what it builds must be as shallow.
    const auto value = base::PropertyList::read(bytes);
    if (value && depthOf(*value) > kCap) {
        std::abort();
    }
    return 0;
}
