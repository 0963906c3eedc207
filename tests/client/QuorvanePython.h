#pragma once
// Runs a short Python program over a file and returns what it printed: the tests check
// the client's bodies with parsers nobody here wrote (Python's email and urllib).
#include <unistd.h>

#include <optional>
#include <string>

#include "platform/system/ChildProcess.h"

namespace quorvanetest {

inline std::optional<std::string> runPython(const std::string& program, const std::string& file) {
    platform::system::ChildProcess child("/usr/bin/python3", {"-c", program, file});
    child.setStandardOutput(platform::system::ChildProcess::Stream::Pipe);
    if (!child.launch()) {
        return std::nullopt;
    }
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(child.standardOutputFd(), buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    const auto status = child.wait(30);
    if (!status || *status != 0) {
        return std::nullopt;
    }
    return out;
}

}  // namespace quorvanetest
