#pragma once
// Class helpers of the service client that need no client: object names, file
// kinds and types, and the picture resizing the thumbnails use. OWQuorvane offers
// each of them as a static member of its own.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/Value.h"
#include "platform/image/ImageEncoder.h"
#include "platform/image/RGBAImage.h"

struct OWQuorvaneUtilities {
    // Uniform types the kind tests ask about.
    static constexpr const char* kMovieType = "public.movie";
    static constexpr const char* kAudioType = "public.audio";
    static constexpr const char* kImageType = "public.image";

    // `count` characters of "abcdefghijklmnopqrstuvwxyz0123456789" from the system's
    // CSPRNG, so two names made in the same instant differ.
    static std::string randomString(size_t count);
    // Every character (code point; every byte of broken UTF-8) other than A-Z, a-z,
    // 0-9 and "." becomes one "_".
    static std::string sanitizeFilename(std::string_view name);
    // The MIME type of the file by its extension, or "application/octet-stream".
    static std::string fileMIMEType(const std::string& path);
    static bool isMovieFile(const std::string& path);
    static bool isAudioFile(const std::string& path);
    static bool isImageFile(const std::string& path);
    // The file's type (by its extension) conforms to `type`, one of the three above.
    static bool utiConformsTo(const std::string& type, const std::string& path);
    // The image drawn into a new one of width by height and encoded. A width of 0
    // keeps the aspect ratio from the height, and a height of 0 from the width,
    // rounded to the nearest pixel (120 by 67.5 is 120 by 68), at least 1. None when
    // the size is unusable or encoding fails.
    static std::optional<base::Data> resizeImage(const platform::image::RGBAImage& image,
                                                 double width, double height,
                                                 platform::image::ImageFileType type,
                                                 double factor);
};
