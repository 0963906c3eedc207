#pragma once
// Owns one open file descriptor and closes it when it goes away. Moves, never copies;
// -1 means it holds none.
#include <sys/types.h>

#include <cstddef>
#include <string_view>

namespace base {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor to the caller, who closes it (and may check that close).
    int release();
    // Closes the one held, if any, and takes `fd`.
    void reset(int fd = -1);

  private:
    int fd_;
};

// Writes all `size` bytes, resuming after signals. False on an error, with errno
// saying which (ENOSPC when the file takes no more).
bool writeFully(int fd, const void* data, size_t size);
inline bool writeFully(int fd, std::string_view bytes) {
    return writeFully(fd, bytes.data(), bytes.size());
}

// Reads until `size` bytes, the end of the file or an error, resuming after signals;
// the count read. `failed` (when given) says whether an error ended it (errno says
// which); the bytes read before it are still counted.
size_t readFully(int fd, void* buffer, size_t size, bool* failed = nullptr);

}  // namespace base
