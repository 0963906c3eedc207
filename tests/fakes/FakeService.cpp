#include "tests/fakes/FakeService.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace fakes {

namespace {

constexpr int kStartTimeoutMs = 15000;

// QV_SOURCE_DIR first (CTest sets it): with a compiler cache's base folder __FILE__ is
// relative to the build folder, which is not where tests run.
std::string scriptPath() {
    if (const char* source = std::getenv("QV_SOURCE_DIR"); source && *source) {
        return std::string(source) + "/tests/fakes/service.py";
    }
    return (std::filesystem::path(__FILE__).parent_path() / "service.py").string();
}

std::string findPython() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t from = 0;
    while (from <= dirs.size()) {
        size_t colon = dirs.find(':', from);
        std::string dir =
            dirs.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
        std::string candidate = dir + "/python3";
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string::npos) {
            break;
        }
        from = colon + 1;
    }
    return "";
}

// Reads one line from `fd` within the time limit.
std::string readLine(int fd, int timeoutMs) {
    std::string line;
    char c = 0;
    while (true) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || ::read(fd, &c, 1) != 1 || c == '\n') {
            return line;
        }
        line += c;
    }
}

bool sendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

FakeService::FakeService(const std::vector<std::string>& arguments) {
    const std::string python = findPython();
    if (python.empty()) {
        problem_ = "python3 not found";
        return;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        problem_ = "pipe failed";
        return;
    }
    std::vector<std::string> args{python, scriptPath(), "--port", "0"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    const int rc = ::posix_spawn(&pid_, python.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);
    if (rc != 0) {
        pid_ = -1;
        ::close(out[0]);
        problem_ = "python3 did not start";
        return;
    }
    const std::string line = readLine(out[0], kStartTimeoutMs);
    ::close(out[0]);
    if (line.rfind("READY ", 0) == 0) {
        port_ = std::atoi(line.c_str() + 6);
    }
    if (port_ == 0) {
        problem_ = "service.py did not report its port";
    }
}

FakeService::~FakeService() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::string FakeService::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

FakeService::Reply FakeService::request(const std::string& method, const std::string& target,
                                        const std::string& body) const {
    Reply reply;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return reply;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string message = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                          "Connection: close\r\nContent-Type: application/json\r\n" +
                          "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::string response;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        sendAll(fd, message)) {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            response.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    const size_t space = response.find(' ');
    const size_t split = response.find("\r\n\r\n");
    if (space != std::string::npos && split != std::string::npos) {
        reply.status = std::atoi(response.c_str() + space + 1);
        reply.head = response.substr(0, split);
        reply.body = response.substr(split + 4);
    }
    return reply;
}

std::string FakeService::Reply::location() const {
    const std::string name = "\r\nLocation: ";
    const size_t at = head.find(name);
    if (at == std::string::npos) {
        return "";
    }
    const size_t from = at + name.size();
    return head.substr(from, head.find("\r\n", from) - from);
}

void FakeService::script(const std::string& path, const std::string& replyJson, int times) const {
    request("POST", "/_control/script",
            R"({"path":")" + path + R"(","times":)" + std::to_string(times) + R"(,"reply":)" +
                replyJson + "}");
}

void FakeService::configure(const std::string& json) const {
    request("POST", "/_control/config", json);
}

std::string FakeService::log() const {
    return request("GET", "/_control/log").body;
}

}  // namespace fakes
