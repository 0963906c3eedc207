// Reads arbitrary bytes as a property list; whatever reads must write back as XML and
// read again to an equal value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::optional<base::Value> value = base::PropertyList::read(bytes);
    if (!value) {
        return 0;
    }
    std::optional<std::string> xml = base::PropertyList::toXml(*value);
    if (!xml) {
        return 0;  // e.g. control characters read from a binary list
    }
    std::optional<base::Value> again = base::PropertyList::read(*xml);
    if (!again) {
        std::abort();
    }
    return 0;
}
