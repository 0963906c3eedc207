#include "base/Console.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "base/Clock.h"

namespace base {
namespace {

std::atomic<int> output{STDERR_FILENO};
std::mutex writeMutex;

std::string timestamp(double secondsSince1970) {
    double whole = std::floor(secondsSince1970);
    auto millis = static_cast<int>((secondsSince1970 - whole) * 1000);
    auto seconds = static_cast<time_t>(whole);
    tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    (void)std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d",
                        local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, millis);
    return text;
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // nowhere left to report a console that cannot be written
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

}  // namespace

std::string Console::line(std::string_view message, double secondsSince1970) {
    std::string text = timestamp(secondsSince1970);
    text += ' ';
    text += program_invocation_short_name ? program_invocation_short_name : "";
    text += '[';
    text += std::to_string(getpid());
    text += ':';
    text += std::to_string(syscall(SYS_gettid));
    text += "] ";
    text += message;
    if (text.back() != '\n') {
        text += '\n';
    }
    return text;
}

void Console::write(std::string_view message) {
    std::string text = line(message, Clock::system()->now());
    // The lock keeps lines whole even where a single write() to a pipe could be split.
    std::lock_guard lock(writeMutex);
    writeAll(output.load(), text);
}

int Console::setOutput(int fd) {
    return output.exchange(fd);
}

}  // namespace base
