#pragma once
// The outcome of a file-system call: success, or the errno value and the item it
// failed on. Texts are for log lines ("Permission denied: /a/b").
#include <string>
#include <utility>

namespace platform::system {

class FsStatus {
  public:
    FsStatus() = default;
    static FsStatus success() { return {}; }
    static FsStatus failure(int error, std::string path, std::string detail = {}) {
        FsStatus s;
        s.error_ = error == 0 ? -1 : error;
        s.path_ = std::move(path);
        s.detail_ = std::move(detail);
        return s;
    }

    bool ok() const { return error_ == 0; }
    explicit operator bool() const { return ok(); }
    // The errno value; -1 for a failure that has none (an archive error).
    int error() const { return error_; }
    const std::string& path() const { return path_; }
    std::string description() const;

  private:
    int error_ = 0;
    std::string path_;
    std::string detail_;
};

}  // namespace platform::system
