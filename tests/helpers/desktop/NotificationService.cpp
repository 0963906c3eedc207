#include "tests/helpers/desktop/NotificationService.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace testsupport {

namespace {
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kName = "org.freedesktop.Notifications";

bool nameOwned() {
    auto* bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(kName).value();
}
}  // namespace

NotificationService::~NotificationService() {
    stop();
}

std::string NotificationService::unavailableBecause() {
#if defined(__SANITIZE_THREAD__)
    // libdbus and Qt's D-Bus thread are not instrumented: the race detector sees their
    // own locking as races.
    return "not under ThreadSanitizer (libdbus and Qt D-Bus are not instrumented)";
#endif
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") || !QDBusConnection::sessionBus().isConnected()) {
        return "no session bus (run the test through tests/helpers/desktop-run)";
    }
    if (::access(kPython, X_OK) != 0 ||
        ::access("/usr/lib/python3/dist-packages/dbusmock", R_OK) != 0) {
        return "python3-dbusmock is not installed";
    }
    return {};
}

bool NotificationService::start() {
    char pattern[] = "/tmp/qv-notify-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    log_ = pattern;
    std::vector<std::string> args{
        kPython, "-m", "dbusmock", "--session", "--template", "notification_daemon", "-l", log_};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        return false;
    }
    return QTest::qWaitFor(nameOwned, 15000);
}

void NotificationService::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        (void)QTest::qWaitFor([] { return !nameOwned(); }, 5000);
    }
    if (!log_.empty()) {
        ::unlink(log_.c_str());
        log_.clear();
    }
}

std::vector<std::string> NotificationService::notifyCalls() const {
    std::vector<std::string> calls;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) {
        if (line.find(" Notify ") != std::string::npos) {
            calls.push_back(line);
        }
    }
    return calls;
}

}  // namespace testsupport
