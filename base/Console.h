#pragma once
// The system console: diagnostic lines on standard error, one line per call, each
// with the local date and time, the process name and its process and thread ids:
//   2026-12-09 04:45:00.123 Quorvane Plugin Hub[4242:4250] Upload finished
// Lines from many threads never mix: each is written with a single call.
#include <string>
#include <string_view>

#include "base/Format.h"

namespace base {

class Console {
  public:
    template <class... Args>
    static void log(std::string_view fmt, const Args&... args) {
        write(format(fmt, args...));
    }
    // Writes `message` as one line (a line end is added unless it has one).
    static void write(std::string_view message);
    // The line write() would produce at `secondsSince1970`.
    static std::string line(std::string_view message, double secondsSince1970);
    // Sends the lines to `fd` instead of standard error (tests); returns the previous one.
    static int setOutput(int fd);
};

}  // namespace base
