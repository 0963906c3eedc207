#pragma once
// Helpers for the transport tests: a scripted loopback server whose replies a
// test writes byte by byte, and a runner that drives one read stream on the main
// run loop to its end.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/HttpReadStream.h"

namespace nettest {

// Accepts connections on 127.0.0.1 and hands each, on a thread of its own, to the
// script with its index (0 for the first connection). Going away cuts every
// connection that is still open.
class ScriptedServer {
  public:
    using Script = std::function<void(int fd, int connectionIndex)>;
    explicit ScriptedServer(Script script);
    ~ScriptedServer();
    uint16_t port() const { return port_; }
    int connections() const { return accepted_.load(); }
    std::string url(const std::string& path = "/") const;

    // For scripts: the next request head (up to the empty line), empty at the end.
    static std::string readHead(int fd);
    static std::string readExactly(int fd, size_t n);
    static void send(int fd, const std::string& bytes);

  private:
    Script script_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<int> open_;
    std::vector<std::thread> handlers_;
};

struct Outcome {
    std::optional<platform::net::HttpResponseHead> head;
    std::string body;
    std::optional<base::Error> error;
    bool ended = false;
    bool reused = false;
    uint64_t bodyBytesWritten = 0;
    int bytesEvents = 0;
    int status() const { return head ? head->statusCode : 0; }
};

// Opens the stream on the main loop and pumps until it ends or fails.
Outcome run(const std::shared_ptr<platform::net::HttpReadStream>& stream, double timeout = 20);
Outcome get(const std::string& url, platform::net::HttpReadStream::Options options = {});

}  // namespace nettest
