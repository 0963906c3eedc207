#include "platform/system/PrivilegeSpawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace platform::system::privilegespawn {
namespace {

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Writes through a socket with MSG_NOSIGNAL, so a tool that exits without reading
// its input cannot kill us with SIGPIPE.
void feed(int fd, const std::string& input) {
    size_t done = 0;
    while (done < input.size()) {
        ssize_t n = ::send(fd, input.data() + done, input.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
}

}  // namespace

int run(const PrivilegedCommand& command, const std::optional<std::string>& input, bool wait,
        const std::vector<std::string>& environment) {
    int sock[2] = {-1, -1};
    if (input && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sock) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input) {
        posix_spawn_file_actions_adddup2(&actions, sock[1], STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(command.tool.c_str()));
    for (const auto& a : command.arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    std::vector<char*> envp;
    for (const auto& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    for (char** e = environ; *e; ++e) {
        const std::string_view name(*e, std::strcspn(*e, "="));
        bool replaced = false;
        for (const auto& entry : environment) {
            replaced = replaced || (entry.size() > name.size() && entry.starts_with(name) &&
                                    entry[name.size()] == '=');
        }
        if (!replaced) {
            envp.push_back(*e);
        }
    }
    envp.push_back(nullptr);

    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, command.tool.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (input) {
        ::close(sock[1]);
    }
    if (rc != 0) {
        if (input) {
            ::close(sock[0]);
        }
        return -1;
    }
    if (input) {
        feed(sock[0], *input);
        ::close(sock[0]);
    }
    if (!wait) {
        std::thread([pid] { waitFor(pid); }).detach();
        return 0;
    }
    return waitFor(pid);
}

}  // namespace platform::system::privilegespawn
