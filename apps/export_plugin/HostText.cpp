#include "apps/export_plugin/HostText.h"

#include <sys/stat.h>
#include <QString>
#include <algorithm>

namespace exportplugin {

std::u16string utf16(const std::string& text) {
    return QString::fromStdString(text).toStdU16String();
}

std::string utf8(const ecUTF16Char* text, size_t maxUnits) {
    if (text == nullptr) {
        return {};
    }
    const auto* units = reinterpret_cast<const char16_t*>(text);
    const size_t length = std::find(units, units + maxUnits, u'\0') - units;
    return QString::fromUtf16(units, qsizetype(length)).toStdString();
}

std::optional<PathBuffer> copyConvertStringRefIntoUTF16(const std::string& text) {
    const std::u16string units = utf16(text);
    if (units.size() >= kPathBufferUnits) {
        return std::nullopt;
    }
    PathBuffer buffer{};
    std::copy(units.begin(), units.end(), buffer.begin());
    return buffer;
}

bool fileExists(const ecUTF16Char* path) {
    const std::string file = utf8(path, kPathBufferUnits);
    if (file.empty() || file.front() != '/') {
        return false;
    }
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0;
}

}  // namespace exportplugin
