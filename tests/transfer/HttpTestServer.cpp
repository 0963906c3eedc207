#include "tests/transfer/HttpTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace txtest {
namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool readMore(int fd, std::string& buffer) {
    char chunk[65536];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0)
        return false;
    buffer.append(chunk, static_cast<size_t>(n));
    return true;
}

void sendAll(int fd, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += static_cast<size_t>(n);
    }
}

}  // namespace

std::string ReceivedRequest::header(const std::string& name) const {
    std::string key = "\r\n" + lower(name) + ":";
    std::string low = lower(head);
    size_t at = low.find(key);
    if (at == std::string::npos)
        return "";
    size_t start = at + key.size();
    size_t end = head.find("\r\n", start);
    std::string value = head.substr(start, end - start);
    value.erase(0, value.find_first_not_of(' '));
    return value;
}

bool ReceivedRequest::hasHeader(const std::string& name) const {
    return lower(head).find("\r\n" + lower(name) + ":") != std::string::npos;
}

HttpTestServer::HttpTestServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener_, 64);
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] {
        while (!stopping_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            int index = accepted_++;
            std::lock_guard guard(mutex_);
            open_.push_back(fd);
            threads_.emplace_back([this, fd, index] { serve(fd, index); });
        }
    });
}

HttpTestServer::~HttpTestServer() {
    stopping_ = true;
    acceptor_.join();
    {
        std::lock_guard guard(mutex_);
        for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : threads_) t.join();
    for (int fd : open_) ::close(fd);
    ::close(listener_);
}

std::string HttpTestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<ReceivedRequest> HttpTestServer::requests() const {
    std::lock_guard guard(mutex_);
    return requests_;
}

std::string HttpTestServer::response(int status, const std::string& headers,
                                     const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " Status\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void HttpTestServer::serve(int fd, int index) {
    std::string buffer;
    for (;;) {
        size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!readMore(fd, buffer))
                return;
        }
        ReceivedRequest request;
        request.connection = index;
        request.head = buffer.substr(0, end + 2);
        buffer.erase(0, end + 4);
        size_t sp = request.head.find(' ');
        request.method = request.head.substr(0, sp);
        request.target = request.head.substr(sp + 1, request.head.find(' ', sp + 1) - sp - 1);
        size_t length = std::strtoull(request.header("Content-Length").c_str(), nullptr, 10);
        auto started = std::chrono::steady_clock::now();
        while (buffer.size() < length) {
            if (uint64_t rate = readRate_) {
                std::this_thread::sleep_until(
                    started + std::chrono::microseconds(buffer.size() * 1000000 / rate));
            }
            if (!readMore(fd, buffer))
                return;
        }
        request.body = buffer.substr(0, length);
        buffer.erase(0, length);
        {
            std::lock_guard guard(mutex_);
            requests_.push_back(request);
        }
        Reply reply = handler_(request);
        if (reply.silent) {
            while (!stopping_ && readMore(fd, buffer)) {
            }
            return;
        }
        sendAll(fd, reply.bytes);
        if (reply.hangUp || lower(reply.bytes).find("connection: close") != std::string::npos) {
            ::shutdown(fd, SHUT_WR);
            return;
        }
    }
}

}  // namespace txtest
