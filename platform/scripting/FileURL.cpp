#include "platform/scripting/FileURL.h"

#include <algorithm>
#include <cctype>

#include "base/Path.h"
#include "base/Url.h"

namespace platform::scripting {
namespace {

std::string tidy(std::string_view path) {
    std::string p = base::standardizingPath(path);
    if (p.empty() || p[0] != '/') {
        p = "/" + p;
    }
    return p;
}

std::string lowercase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

FileURL FileURL::fromPath(std::string_view path, bool isDirectory) {
    FileURL url;
    url.path_ = tidy(path);
    url.isDirectory_ = isDirectory || url.path_ == "/";
    return url;
}

std::optional<FileURL> FileURL::fromString(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
            return std::nullopt;
        }
    }
    const auto url = base::Url::parse(text);
    if (!url || lowercase(url->scheme()) != "file" || url->query() || url->fragment()) {
        return std::nullopt;
    }
    const std::string host = lowercase(url->host());
    if (!host.empty() && host != "localhost") {
        return std::nullopt;
    }
    const auto path = base::Url::percentDecode(url->path());
    if (!path || path->empty() || (*path)[0] != '/' || path->find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return fromPath(*path, path->back() == '/');
}

std::string FileURL::absoluteString() const {
    std::string text = "file://" + base::Url::percentEncode(path_, "/!$&'()*+,;=:@");
    if (isDirectory_ && path_ != "/") {
        text += "/";
    }
    return text;
}

std::string FileURL::lastPathComponent() const {
    return base::lastPathComponent(path_);
}

std::string FileURL::pathExtension() const {
    return base::pathExtension(path_);
}

FileURL FileURL::deletingPathExtension() const {
    return fromPath(base::deletingPathExtension(path_), isDirectory_);
}

FileURL FileURL::deletingLastPathComponent() const {
    return fromPath(base::deletingLastPathComponent(path_), true);
}

FileURL FileURL::appendingPathComponent(std::string_view component, bool isDirectory) const {
    return fromPath(base::appendingPathComponent(path_, component), isDirectory);
}

FileURL FileURL::appendingPathExtension(std::string_view extension) const {
    return fromPath(base::appendingPathExtension(path_, extension), isDirectory_);
}

}  // namespace platform::scripting
