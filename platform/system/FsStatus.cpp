#include "platform/system/FsStatus.h"

#include <cstring>

namespace platform::system {

std::string FsStatus::description() const {
    if (ok()) {
        return "Success";
    }
    std::string text = detail_;
    if (text.empty()) {
        char buf[256];
        // GNU strerror_r returns the text, which may or may not live in buf.
        text = error_ > 0 ? strerror_r(error_, buf, sizeof buf) : "Unknown error";
    }
    if (!path_.empty()) {
        text += ": " + path_;
    }
    return text;
}

}  // namespace platform::system
