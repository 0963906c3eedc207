#include "platform/system/ConsoleUser.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string_view>
#include <vector>

namespace platform::system {
namespace {

std::mutex gMutex;
std::optional<bool> gRootOverride;
std::string gLogindDirectory = "/run/systemd";

constexpr size_t kMaxStateFile = 64 * 1024;  // logind's state files are a few hundred bytes

std::optional<ConsoleUser::Account> accountForUid(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found) {
        return std::nullopt;
    }
    return ConsoleUser::Account{found->pw_name ? found->pw_name : "",
                                found->pw_dir ? found->pw_dir : "", uid};
}

std::optional<uid_t> parseUid(std::string_view text) {
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v >= static_cast<uint64_t>(static_cast<uid_t>(-1)))
        return std::nullopt;
    return static_cast<uid_t>(v);
}

std::optional<ConsoleUser::Account> fromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    const auto uid = parseUid(value);
    return uid ? accountForUid(*uid) : std::nullopt;
}

// Reads KEY=VALUE from one of logind's state files.
std::optional<std::string> stateValue(const std::string& path, std::string_view key) {
    std::ifstream in(path);
    std::string line;
    size_t read = 0;
    while (read < kMaxStateFile && std::getline(in, line)) {
        read += line.size() + 1;
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == '=') {
            return line.substr(key.size() + 1);
        }
    }
    return std::nullopt;
}

bool isSafeSessionName(std::string_view s) {
    if (s.empty() || s.size() > 64)
        return false;
    for (char c : s) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                        (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

std::optional<ConsoleUser::Account> fromLogind() {
    std::string dir;
    {
        std::lock_guard lock(gMutex);
        dir = gLogindDirectory;
    }
    const std::string seat = dir + "/seats/seat0";
    const auto session = stateValue(seat, "ACTIVE");
    const auto uidText = stateValue(seat, "ACTIVE_UID");
    if (!session || !uidText || !isSafeSessionName(*session))
        return std::nullopt;
    // The login greeter owns the seat while nobody is logged in.
    if (stateValue(dir + "/sessions/" + *session, "CLASS") == "greeter")
        return std::nullopt;
    const auto uid = parseUid(*uidText);
    return uid ? accountForUid(*uid) : std::nullopt;
}

}  // namespace

std::optional<ConsoleUser::Account> ConsoleUser::current() {
    if (auto a = fromEnvironment("PKEXEC_UID"))
        return a;
    if (auto a = fromEnvironment("SUDO_UID"))
        return a;
    return fromLogind();
}

ConsoleUser::Account ConsoleUser::processAccount() {
    const uid_t uid = getuid();
    Account account = accountForUid(uid).value_or(Account{"", "", uid});
    if (account.name.empty()) {
        const char* user = std::getenv("USER");
        account.name = user && *user ? user : std::to_string(uid);
    }
    const char* home = std::getenv("HOME");
    if (home && *home == '/')
        account.home = home;
    if (account.home.empty())
        account.home = "/";
    return account;
}

bool ConsoleUser::isRoot() {
    {
        std::lock_guard lock(gMutex);
        if (gRootOverride)
            return *gRootOverride;
    }
    return getuid() == 0;
}

void ConsoleUser::setRootOverride(std::optional<bool> root) {
    std::lock_guard lock(gMutex);
    gRootOverride = root;
}

void ConsoleUser::setLogindDirectory(std::string directory) {
    std::lock_guard lock(gMutex);
    gLogindDirectory = directory.empty() ? "/run/systemd" : std::move(directory);
}

}  // namespace platform::system
