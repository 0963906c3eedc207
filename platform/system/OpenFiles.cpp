#include "platform/system/OpenFiles.h"

namespace platform::system::openfiles {

bool anyWriteAccess(std::string_view text) {
    if (text.size() > kMaxOutputBytes) {
        text = text.substr(0, kMaxOutputBytes);
    }
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        if (line.size() == 2 && line[0] == 'a' && (line[1] == 'w' || line[1] == 'u')) {
            return true;
        }
        if (nl == std::string_view::npos) {
            break;
        }
        pos = nl + 1;
    }
    return false;
}

}  // namespace platform::system::openfiles
