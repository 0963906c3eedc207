// FCPXML time strings and marker extraction. The first byte picks what the rest is:
// a time string, or a document (read through a memory file) with the marker flags.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/QuietLog.h"
#include "support/OWFCPXMLParser.h"

namespace {

void checkTimes(std::string_view text, uint64_t numerator) {
    const double seconds = OWFCPXMLParser::secondsFromTimeString(text);
    const double fps = OWFCPXMLParser::fpsFromFrameDuration(text);
    if (!std::isfinite(seconds) || !std::isfinite(fps)) {
        std::abort();
    }
    (void)OWFCPXMLParser::multiplierFromFrameDuration(text);
    (void)OWFCPXMLParser::framesFromTimeString(text, numerator);
}

const std::string& memoryFile() {
    static const std::string path = [] {
        const int fd = memfd_create("fuzz-fcpxml", MFD_CLOEXEC);
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::quietLog();
    if (size < 1) {
        return 0;
    }
    const uint8_t mode = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((mode & 1) == 0) {
        checkTimes(rest, mode >> 1);
        return 0;
    }
    const std::string& path = memoryFile();
    const int fd = std::stoi(path.substr(path.rfind('/') + 1));
    if (ftruncate(fd, 0) != 0 ||
        pwrite(fd, rest.data(), rest.size(), 0) != static_cast<ssize_t>(rest.size())) {
        return 0;
    }
    const int64_t relativeHour = (mode & 0x10) != 0 ? (mode >> 5) : -1;
    auto markers = OWFCPXMLParser::markersFromXMLFile(path, (mode & 2) != 0, (mode & 4) != 0,
                                                      (mode & 8) != 0, relativeHour);
    for (const auto& record : markers) {
        if (const base::Value* seconds = record.find("seconds")) {
            if (!std::isfinite(seconds->doubleValue())) {
                std::abort();
            }
        }
    }
    return 0;
}
