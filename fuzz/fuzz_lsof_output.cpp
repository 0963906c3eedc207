// lsof field output: any text is answered without crashing; only "aw"/"au" lines count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/system/OpenFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    bool writing = platform::system::openfiles::anyWriteAccess(text);
    bool hasLine = text.rfind("aw\n", 0) == 0 || text.rfind("au\n", 0) == 0 ||
                   text.find("\naw\n") != std::string_view::npos ||
                   text.find("\nau\n") != std::string_view::npos;
    if (hasLine && text.size() < 4096 && !writing) {
        std::abort();
    }
    return 0;
}
