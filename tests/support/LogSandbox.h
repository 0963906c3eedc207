#pragma once
// Points the process's folders (HOME, XDG_*) at a private temporary home, takes the
// non-root road unless asked otherwise, and gives every test a fresh logger named
// "tests". Everything is restored when the object goes away.
#include <map>
#include <optional>
#include <string>

#include "tests/helpers/TempDir.h"

namespace testsupport {

class LogSandbox {
  public:
    LogSandbox();
    ~LogSandbox();
    LogSandbox(const LogSandbox&) = delete;
    LogSandbox& operator=(const LogSandbox&) = delete;

    const std::string& home() const { return dir_.path(); }
    // "<home>/.local/state/Oxbury Works"
    std::string logFolder() const;
    std::string logFile(int generation = 1) const;
    const TempDir& dir() const { return dir_; }

  private:
    TempDir dir_;
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace testsupport
