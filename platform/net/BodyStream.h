#pragma once
// Where a request body comes from: the read stream pulls it as the socket takes
// it, so a file body is never held in memory whole.
#include <sys/types.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace platform::net {

class BodyStream {
  public:
    virtual ~BodyStream() = default;
    // Up to `n` bytes into `buf`; 0 at the end; -1 on failure.
    virtual ssize_t read(uint8_t* buf, size_t n) = 0;
};

// A body held in memory.
class DataBodyStream final : public BodyStream {
  public:
    explicit DataBodyStream(std::string data) : data_(std::move(data)) {}
    ssize_t read(uint8_t* buf, size_t n) override {
        size_t take = std::min(n, data_.size() - offset_);
        std::memcpy(buf, data_.data() + offset_, take);
        offset_ += take;
        return static_cast<ssize_t>(take);
    }

  private:
    std::string data_;
    size_t offset_ = 0;
};

}  // namespace platform::net
