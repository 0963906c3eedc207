#pragma once
// A private temporary folder for one test: made with mode 0700 under ${TMPDIR:-/tmp}
// and removed with everything in it when the object goes away.
#include <string>
#include <string_view>

namespace testsupport {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside the folder (nothing is created).
    std::string file(std::string_view name) const;
    // Writes `contents` to `name` inside the folder and returns its path.
    std::string write(std::string_view name, std::string_view contents) const;
    // Makes the sub-folder `name` (and its parents) and returns its path.
    std::string makeFolder(std::string_view name) const;

  private:
    std::string path_;
};

// Everything in a file, or an empty text when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace testsupport
