#include "tests/platform/NetTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/RunLoop.h"

namespace nettest {

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    listen(listener_, 16);
    thread_ = std::thread([this] {
        for (;;) {
            int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;  // the listener was shut down
            int index = accepted_++;
            std::lock_guard lock(mutex_);
            open_.push_back(fd);
            handlers_.emplace_back([this, fd, index] {
                script_(fd, index);
                std::lock_guard done(mutex_);
                std::erase(open_, fd);
                close(fd);
            });
        }
    });
}

ScriptedServer::~ScriptedServer() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
    {
        std::lock_guard lock(mutex_);
        for (int fd : open_) shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : handlers_) t.join();
}

std::string ScriptedServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string ScriptedServer::readHead(int fd) {
    std::string head;
    char c;
    while (head.size() < 65536 && recv(fd, &c, 1, 0) == 1) {
        head.push_back(c);
        if (head.ends_with("\r\n\r\n"))
            return head;
    }
    return {};
}

std::string ScriptedServer::readExactly(int fd, size_t n) {
    std::string out(n, '\0');
    size_t got = 0;
    while (got < n) {
        ssize_t r = recv(fd, out.data() + got, n - got, 0);
        if (r <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
}

void ScriptedServer::send(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

Outcome run(const std::shared_ptr<platform::net::HttpReadStream>& stream, double timeout) {
    using Event = platform::net::HttpReadStream::Event;
    Outcome out;
    bool done = false;
    stream->setClient([&](Event e) {
        if (e == Event::BytesAvailable) {
            ++out.bytesEvents;
            uint8_t buf[8192];
            while (size_t n = stream->read(buf, sizeof buf))
                out.body.append(reinterpret_cast<char*>(buf), n);
        } else if (e == Event::EndEncountered) {
            out.ended = true;
            done = true;
        } else {
            out.error = stream->error();
            done = true;
        }
    });
    stream->schedule(base::RunLoop::current(), base::kDefaultRunLoopMode);
    if (!stream->open()) {
        out.error = stream->error();
        stream->setClient(nullptr);
        return out;
    }
    base::RunLoop::current().runUntil([&] { return done; }, timeout);
    if (auto* h = stream->responseHead())
        out.head = *h;
    out.reused = stream->reusedConnection();
    out.bodyBytesWritten = stream->requestBodyBytesWritten();
    stream->setClient(nullptr);
    return out;
}

Outcome get(const std::string& url, platform::net::HttpReadStream::Options options) {
    platform::net::HttpRequestMessage m("GET", *platform::net::Url::parse(url));
    return run(platform::net::HttpReadStream::create(std::move(m), nullptr, std::move(options)));
}

}  // namespace nettest
