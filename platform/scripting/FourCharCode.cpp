#include "platform/scripting/FourCharCode.h"

namespace platform::scripting {

std::string fourCCText(FourCharCode code) {
    std::string text(4, '?');
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<unsigned char>(code >> (24 - 8 * i));
        if (byte >= 0x20 && byte < 0x7F) {
            text[static_cast<size_t>(i)] = static_cast<char>(byte);
        }
    }
    return text;
}

bool parseFourCC(std::string_view text, FourCharCode& code) {
    if (text.size() != 4) {
        return false;
    }
    code = 0;
    for (char c : text) {
        code = (code << 8) | static_cast<unsigned char>(c);
    }
    return true;
}

}  // namespace platform::scripting
