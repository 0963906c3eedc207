#pragma once
// A loopback HTTP/1.1 server for the engine tests: every request (head and a body
// of Content-Length bytes) goes to the handler, whose answer is written back as is.
// Connections stay open for further requests until the answer carries
// "Connection: close" or the handler asks to hang up. The handler runs on the
// server's connection threads.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace txtest {

struct ReceivedRequest {
    std::string method, target, head, body;
    int connection = 0;  // index of the connection it came on
    // The value of a header field (first of that name, case-insensitive), or "".
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

class HttpTestServer {
  public:
    struct Reply {
        std::string bytes;    // the whole response
        bool hangUp = false;  // close the connection after writing
        bool silent = false;  // write nothing and keep the connection open
    };
    using Handler = std::function<Reply(const ReceivedRequest&)>;

    explicit HttpTestServer(Handler handler);
    ~HttpTestServer();

    uint16_t port() const { return port_; }
    std::string url(const std::string& path = "/") const;
    std::vector<ReceivedRequest> requests() const;
    int connections() const { return accepted_.load(); }
    // Request bodies are read at this many bytes a second at most (0: at once).
    void setBodyReadRate(uint64_t bytesPerSecond) { readRate_ = bytesPerSecond; }

    // "HTTP/1.1 <status>\r\n<headers>Content-Length: n\r\n\r\n<body>".
    static std::string response(int status, const std::string& headers, const std::string& body);

  private:
    void serve(int fd, int index);

    Handler handler_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<uint64_t> readRate_{0};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
    std::vector<int> open_;
    std::vector<std::thread> threads_;
};

}  // namespace txtest
