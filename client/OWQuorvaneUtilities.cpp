#include "client/OWQuorvaneUtilities.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

#include "base/Path.h"
#include "base/Random.h"
#include "platform/image/ImageScaler.h"
#include "transfer/TXHTTPRequest.h"

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = base::pathExtension(path);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

bool extensionIn(const std::string& path, std::initializer_list<std::string_view> list) {
    const std::string ext = lowerExtension(path);
    return std::find(list.begin(), list.end(), ext) != list.end();
}

// Length of the UTF-8 sequence starting at `s[i]`, or 1 for a byte that starts none.
size_t sequenceLength(std::string_view s, size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    size_t n = lead < 0x80           ? 1
               : (lead >> 5) == 0x6  ? 2
               : (lead >> 4) == 0xE  ? 3
               : (lead >> 3) == 0x1E ? 4
                                     : 0;
    if (n == 0 || i + n > s.size()) {
        return 1;
    }
    for (size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return n;
}

bool keptInFilename(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.';
}

int roundedSide(double side) {
    return static_cast<int>(std::max(1.0, std::floor(side + 0.5)));
}

}  // namespace

std::string OWQuorvaneUtilities::randomString(size_t count) {
    return base::randomString(count);
}

std::string OWQuorvaneUtilities::sanitizeFilename(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const size_t n = sequenceLength(name, i);
        out += (n == 1 && keptInFilename(name[i])) ? name[i] : '_';
        i += n;
    }
    return out;
}

std::string OWQuorvaneUtilities::fileMIMEType(const std::string& path) {
    return TXHTTPRequest::mimeTypeForFileAtPath(path).value_or("application/octet-stream");
}

bool OWQuorvaneUtilities::utiConformsTo(const std::string& type, const std::string& path) {
    static const std::array<std::pair<std::string_view, std::string_view>, 3> families = {{
        {kMovieType, "video/"},
        {kAudioType, "audio/"},
        {kImageType, "image/"},
    }};
    const auto mime = TXHTTPRequest::mimeTypeForFileAtPath(path);
    if (!mime) {
        return false;
    }
    for (const auto& [uti, prefix] : families) {
        if (type == uti) {
            return mime->starts_with(prefix);
        }
    }
    return false;
}

bool OWQuorvaneUtilities::isMovieFile(const std::string& path) {
    return utiConformsTo(kMovieType, path) || extensionIn(path, {"mov", "mp4", "m4v"});
}

bool OWQuorvaneUtilities::isAudioFile(const std::string& path) {
    return utiConformsTo(kAudioType, path) || extensionIn(path, {"wav", "aif", "aiff", "mp3"});
}

bool OWQuorvaneUtilities::isImageFile(const std::string& path) {
    return utiConformsTo(kImageType, path) ||
           extensionIn(path, {"png", "jpg", "jpeg", "tif", "tiff", "bmp"});
}

std::optional<base::Data> OWQuorvaneUtilities::resizeImage(const platform::image::RGBAImage& image,
                                                           double width, double height,
                                                           platform::image::ImageFileType type,
                                                           double factor) {
    if (image.empty()) {
        return std::nullopt;
    }
    const double ratio = static_cast<double>(image.width()) / image.height();
    if (width == 0) {
        width = ratio * height;
    } else if (height == 0) {
        height = width / ratio;
    }
    if (!(width > 0 && height > 0) || width > platform::image::RGBAImage::kMaxSide ||
        height > platform::image::RGBAImage::kMaxSide) {
        return std::nullopt;
    }
    const auto drawn =
        platform::image::scaleByAreaAverage(image, roundedSide(width), roundedSide(height));
    if (!drawn) {
        return std::nullopt;
    }
    return platform::image::encodeImage(*drawn, type, factor);
}
