#include "tests/support/LogSandbox.h"

#include <cstdlib>

#include "platform/system/ConsoleUser.h"
#include "support/OWLog.h"

namespace testsupport {

LogSandbox::LogSandbox() {
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                             "XDG_CACHE_HOME", "SUDO_UID", "PKEXEC_UID"}) {
        const char* old = std::getenv(name);
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        unsetenv(name);
    }
    setenv("HOME", dir_.path().c_str(), 1);
    platform::system::ConsoleUser::setRootOverride(false);
    OWLog::resetForTesting();
    OWLog::sharedController()->setAppName("tests");
}

LogSandbox::~LogSandbox() {
    OWLog::resetForTesting();
    platform::system::ConsoleUser::setRootOverride(std::nullopt);
    for (const auto& [name, value] : saved_) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
}

std::string LogSandbox::logFolder() const {
    return dir_.path() + "/.local/state/Oxbury Works";
}

std::string LogSandbox::logFile(int generation) const {
    return logFolder() + "/tests." + std::to_string(generation) + ".log";
}

}  // namespace testsupport
