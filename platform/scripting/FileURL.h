#pragma once
// A local file URL ("file:///Users/a/My%20Movie.mov"): an absolute path, kept decoded,
// and whether it names a folder (written with a trailing slash).
#include <optional>
#include <string>
#include <string_view>

namespace platform::scripting {

class FileURL {
  public:
    // `path` must be absolute; a relative one is taken from the root.
    static FileURL fromPath(std::string_view path, bool isDirectory = false);
    // A "file:" URL with an empty or "localhost" host and an absolute path; none for any
    // other text (other schemes, bad escapes, NUL bytes, white space).
    static std::optional<FileURL> fromString(std::string_view text);

    const std::string& path() const { return path_; }
    bool isDirectory() const { return isDirectory_; }
    // "file://" and the path, percent-escaped, with "/" after a folder.
    std::string absoluteString() const;

    std::string lastPathComponent() const;
    // The extension as written (case kept), without the point.
    std::string pathExtension() const;
    FileURL deletingPathExtension() const;
    // The parent folder.
    FileURL deletingLastPathComponent() const;
    FileURL appendingPathComponent(std::string_view component, bool isDirectory = false) const;
    FileURL appendingPathExtension(std::string_view extension) const;

    friend bool operator==(const FileURL& a, const FileURL& b) {
        return a.path_ == b.path_ && a.isDirectory_ == b.isDirectory_;
    }

  private:
    std::string path_ = "/";
    bool isDirectory_ = true;
};

}  // namespace platform::scripting
