#include "apps/export_plugin/HostText.h"

#include <sys/stat.h>
#include <QString>
#include <QStringDecoder>
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

std::optional<std::u16string> strictUtf16(const std::string& text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString units = decoder(QByteArrayView(text.data(), qsizetype(text.size())));
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return units.toStdU16String();
}

std::optional<PathBuffer> copyConvertStringRefIntoUTF16(const std::string& text) {
    const auto units = strictUtf16(text);
    if (!units || units->size() >= kPathBufferUnits) {
        return std::nullopt;
    }
    PathBuffer buffer{};
    std::copy(units->begin(), units->end(), buffer.begin());
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
