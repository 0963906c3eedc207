#include "tests/helpers/Peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace testsupport {
namespace {

bool isExecutable(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Starts argv[0] in a process group of its own, stdin from /dev/null, stdout and stderr
// to the log (or /dev/null). Spawned rather than forked: the test process has threads
// (Qt's, the bus's, queues') and a forked copy of them is nothing a child should run in.
pid_t spawnChild(const std::vector<std::string>& argv, const std::string& workDir,
                 const std::string& logFile) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (logFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!workDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    }
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return pid;
}

bool accepts(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

bool bindable(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// Whatever free port the kernel picks, for a machine without room below its range.
uint16_t anyPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

}  // namespace

Peer::~Peer() {
    stop();
}

std::string Peer::findBinary(const std::string& name,
                             const std::vector<std::string>& extraFolders) {
    std::vector<std::string> folders;
    if (const char* path = std::getenv("PATH")) {
        std::stringstream in(path);
        std::string f;
        while (std::getline(in, f, ':')) folders.push_back(f);
    }
    folders.insert(folders.end(), {"/usr/sbin", "/sbin", "/usr/bin"});
    folders.insert(folders.end(), extraFolders.begin(), extraFolders.end());
    for (const auto& f : folders) {
        if (isExecutable(f + "/" + name))
            return f + "/" + name;
    }
    return {};
}

// Ports come from below the kernel's range for outgoing connections: a port from
// inside it can be taken as the local end of some test's connection before the
// server binds it, and polling for a server that is not yet listening can even
// connect the probe to itself. A port handed out once is not handed out again by
// this process, so two peers of one test never share one.
uint16_t Peer::freePort() {
    static std::mutex mutex;
    static std::set<uint16_t> given;
    static std::mt19937 pick{std::random_device{}()};
    std::lock_guard lock(mutex);
    unsigned low = 32768;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low;
    const unsigned first = 10000;
    for (int attempt = 0; low > first + 1000 && attempt < 1000; ++attempt) {
        auto port =
            static_cast<uint16_t>(std::uniform_int_distribution<unsigned>(first, low - 1)(pick));
        if (!given.count(port) && bindable(port)) {
            given.insert(port);
            return port;
        }
    }
    return anyPort();
}

std::string Peer::nginxEchoModule() {
    for (const char* p : {"/usr/lib/nginx/modules/ngx_http_echo_module.so",
                          "/usr/share/nginx/modules/ngx_http_echo_module.so"}) {
        if (access(p, R_OK) == 0)
            return p;
    }
    return {};
}

void Peer::handFolderTo(const std::string& user, const std::string& folder) {
    if (getuid() != 0)
        return;
    passwd* pw = getpwnam(user.c_str());
    if (!pw)
        return;
    for (auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        (void)chown(entry.path().c_str(), pw->pw_uid, pw->pw_gid);
    }
    (void)chown(folder.c_str(), pw->pw_uid, pw->pw_gid);
    chmod(folder.c_str(), 0700);
    chmod(std::filesystem::path(folder).parent_path().c_str(), 0711);
}

bool Peer::isCi() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

int Peer::runTool(const std::vector<std::string>& argv, const std::string& logFile) {
    pid_t pid = spawnChild(argv, {}, logFile);
    if (pid < 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Peer::start(const std::vector<std::string>& argv, const std::string& workDir, uint16_t port,
                 double timeoutSeconds) {
    stop();
    logPath_ = workDir + "/peer.log";
    pid_ = spawnChild(argv, workDir, logPath_);
    if (pid_ < 0) {
        failure_ = "could not start " + argv[0];
        return false;
    }
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (accepts(port))
            return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            failure_ = argv[0] + " exited before listening:\n" + log();
            return false;
        }
        // Polling a starting server for its port; nothing else to wait on.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    failure_ = argv[0] + " did not listen on port " + std::to_string(port) + ":\n" + log();
    stop();
    return false;
}

void Peer::stop() {
    if (pid_ <= 0)
        return;
    kill(-pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-pid_, SIGKILL);  // anything the server left behind in its group
    pid_ = -1;
}

std::string Peer::log() const {
    std::ifstream in(logPath_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace testsupport
