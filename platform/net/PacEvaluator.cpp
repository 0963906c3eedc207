#include "platform/net/PacEvaluator.h"

#include <fcntl.h>
#include <pacparser.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform::net {
namespace {

constexpr size_t kMaxAnswerBytes = 64 * 1024;

int silentPrinter(const char*, va_list) {
    return 0;
}

[[noreturn]] void runChild(int fd, const std::string& script, const std::string& url,
                           const std::string& host) {
    if (dup2(fd, 3) < 0)
        _exit(2);
    close_range(4, ~0U, 0);  // no socket of ours stays open in the child
    pacparser_set_error_printer(silentPrinter);
    if (!pacparser_init() || !pacparser_parse_pac_string(script.c_str()))
        _exit(1);
    char* answer = pacparser_find_proxy(url.c_str(), host.c_str());
    if (!answer)
        _exit(1);
    size_t len = std::min(std::strlen(answer), kMaxAnswerBytes);
    for (size_t off = 0; off < len;) {
        ssize_t n = write(3, answer + off, len - off);
        if (n <= 0)
            _exit(1);
        off += static_cast<size_t>(n);
    }
    _exit(0);
}

std::optional<std::string> collect(int fd, pid_t child, double timeLimit) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::duration<double>(timeLimit);
    std::string answer;
    bool finished = false;
    while (!finished) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            finished = true;
        } else if (answer.size() + size_t(n) <= kMaxAnswerBytes) {
            answer.append(buf, static_cast<size_t>(n));
        }
    }
    if (!finished)
        kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return answer;
}

}  // namespace

std::optional<std::string> PacEvaluator::findProxy(const std::string& script, const Url& url,
                                                   double timeLimit) {
    if (script.size() > kMaxScriptBytes || script.find('\0') != std::string::npos)
        return std::nullopt;
    // Evaluations are serialised: each forks, and one at a time is plenty.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return std::nullopt;
    std::string address = url.absoluteString();
    std::string host = url.host();
    pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return std::nullopt;
    }
    if (child == 0)
        runChild(fds[1], script, address, host);
    close(fds[1]);
    auto answer = collect(fds[0], child, timeLimit);
    close(fds[0]);
    return answer;
}

std::vector<ProxyEntry> PacEvaluator::evaluate(const std::string& script, const Url& url,
                                               double timeLimit) {
    auto answer = findProxy(script, url, timeLimit);
    if (!answer)
        return {ProxyEntry{}};
    return ProxyEntry::parsePacResult(*answer);
}

void PacEvaluator::evaluateAsync(std::string script, Url url, base::RunLoop& loop,
                                 std::function<void(std::vector<ProxyEntry>)> done,
                                 double timeLimit) {
    std::thread([script = std::move(script), url = std::move(url), &loop, done = std::move(done),
                 timeLimit]() mutable {
        auto result = evaluate(script, url, timeLimit);
        loop.post([done = std::move(done), result = std::move(result)]() mutable {
            done(std::move(result));
        });
    }).detach();
}

}  // namespace platform::net
