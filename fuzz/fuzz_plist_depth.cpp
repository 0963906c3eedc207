// Runs the nesting scan that guards libplist over arbitrary bytes, and checks it against
// the tree libplist then builds: whatever passes the scan must nest no deeper and hold
// no more values than the caps once parsed (read() refuses deeper trees after parsing
// too, as a second guard).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/PropertyList.h"
#include "base/PropertyListDepth.h"

namespace {

// Small caps make deep and large inputs cheap to reach.
constexpr size_t kCap = 8;
constexpr size_t kNodes = 64;

// Values as libplist builds them: a dictionary's keys count one each.
size_t nodesOf(const base::Value& value) {
    size_t nodes = 1;
    if (const base::Array* array = value.array()) {
        for (const base::Value& item : *array) {
            nodes += nodesOf(item);
        }
    } else if (const base::Dictionary* dictionary = value.dictionary()) {
        for (const auto& [key, item] : *dictionary) {
            nodes += 1 + nodesOf(item);
        }
    }
    return nodes;
}

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
    if (!base::PropertyListDepth::within(bytes, {kCap, kNodes})) {
        return 0;
    }
    // Within the small caps, libplist may see it; what it builds must be as small.
    const auto value = base::PropertyList::read(bytes);
    const bool binary = bytes.starts_with("bplist00");
    if (value && (depthOf(*value) > kCap || (binary && nodesOf(*value) > kNodes))) {
        std::abort();
    }
    return 0;
}
