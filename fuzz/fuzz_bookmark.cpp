// Bookmark data and file URLs from the editor: whatever resolves names an absolute path
// whose URL reads back to the same file; the same bytes as descriptors of every type
// convert to plain values without crashing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/Console.h"
#include "platform/scripting/Bookmark.h"
#include "platform/scripting/Conversions.h"

using namespace platform::scripting;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int quiet = base::Console::setOutput(-1);
    (void)quiet;
    const base::Data bytes(data, data + size);
    for (const auto& url :
         {bookmark::resolve(bytes),
          FileURL::fromString(std::string_view(reinterpret_cast<const char*>(data), size))}) {
        if (!url) {
            continue;
        }
        if (url->path().empty() || url->path()[0] != '/') {
            std::abort();
        }
        const auto again = urlValue(descriptorWithURL(*url));
        if (!again || !(*again == *url)) {
            std::abort();
        }
    }
    for (FourCharCode type :
         {kTypeFileURL, kTypeUTF8Text, kTypeUnicodeText, kTypeSInt16, kTypeSInt32, kTypeSInt64,
          kTypeUInt32, kTypeType, kTypeBookmarkData}) {
        const ScriptObject value = objectValue(Descriptor::atomic(type, bytes));
        (void)descriptorWithObject(value);
        (void)value.description();
    }
    return 0;
}
