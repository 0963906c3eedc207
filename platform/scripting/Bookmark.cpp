#include "platform/scripting/Bookmark.h"

#include <charconv>
#include <string_view>

namespace platform::scripting::bookmark {

base::Data create(const FileURL& url) {
    const std::string text =
        "QVBK " + std::to_string(kVersion) + "\nurl " + url.absoluteString() + "\n";
    return base::Data(text.begin(), text.end());
}

std::optional<FileURL> resolve(const base::Data& data) {
    if (data.size() > kMaxSize) {
        return std::nullopt;
    }
    const std::string text(data.begin(), data.end());
    std::string_view rest = text;
    const size_t first = rest.find('\n');
    if (first == std::string_view::npos || rest.substr(0, 5) != "QVBK ") {
        return std::nullopt;
    }
    const std::string_view version = rest.substr(5, first - 5);
    int number = 0;
    const auto parsed = std::from_chars(version.data(), version.data() + version.size(), number);
    if (parsed.ec != std::errc() || parsed.ptr != version.data() + version.size() || number < 1) {
        return std::nullopt;
    }
    rest.remove_prefix(first + 1);
    const size_t second = rest.find('\n');
    if (second == std::string_view::npos || rest.substr(0, 4) != "url ") {
        return std::nullopt;
    }
    return FileURL::fromString(rest.substr(4, second - 4));
}

}  // namespace platform::scripting::bookmark
