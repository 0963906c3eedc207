#pragma once
// The body stream handed to the transport: it reads a request body from memory or
// from a file, counts what it gives away against the process's bandwidth window and,
// while throttled, hands out small pieces so the limit holds for uploads too.
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/Value.h"
#include "platform/net/BodyStream.h"

class TXInputStream final : public platform::net::BodyStream {
  public:
    // Called after a throttled read so the request can take its stream off the loop.
    using ThrottleHook = std::function<void()>;
    using Clock = std::function<double()>;

    // None when the file cannot be opened.
    static std::shared_ptr<TXInputStream> inputStreamWithFileAtPath(const std::string& path,
                                                                    ThrottleHook hook, Clock clock);
    // The same for `length` bytes from `offset`; none when it cannot seek there.
    static std::shared_ptr<TXInputStream> inputStreamWithFileRange(const std::string& path,
                                                                   uint64_t offset, uint64_t length,
                                                                   ThrottleHook hook, Clock clock);
    static std::shared_ptr<TXInputStream> inputStreamWithData(base::Data data, ThrottleHook hook,
                                                              Clock clock);
    ~TXInputStream() override;
    TXInputStream(const TXInputStream&) = delete;
    TXInputStream& operator=(const TXInputStream&) = delete;

    ssize_t read(uint8_t* buf, size_t n) override;
    void close();

  private:
    TXInputStream(ThrottleHook hook, Clock clock)
        : hook_(std::move(hook)), clock_(std::move(clock)) {}
    ssize_t readWrapped(uint8_t* buf, size_t n);

    // Serialises the throttle decisions of every body stream of the process.
    static std::mutex readLock;

    ThrottleHook hook_;
    Clock clock_;
    int fd_ = -1;
    bool isFile_ = false;
    uint64_t fileLeft_ = UINT64_MAX;  // what the file may still give
    base::Data data_;
    size_t offset_ = 0;
};
