// Mount table text: every parsed entry is absolute, and path lookups stay sane.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/system/Volume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto mounts = platform::system::volume::parseMountInfo(text);
    for (const auto& m : mounts) {
        if (m.mountPoint.empty() || m.mountPoint[0] != '/') {
            std::abort();
        }
    }
    auto found = platform::system::volume::mountForPath("/media/disk/file", mounts);
    if (found && found->mountPoint.size() > std::string_view("/media/disk/file").size()) {
        std::abort();
    }
    platform::system::volume::localVolumes(mounts);
    return 0;
}
