#include "tests/helpers/RunTool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace testsupport {
namespace {

std::vector<char*> pointers(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (const auto& s : strings) {
        out.push_back(const_cast<char*>(s.c_str()));
    }
    out.push_back(nullptr);
    return out;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return text;
        }
    }
}

}  // namespace

std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
    auto overridden = [&](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('='));
        for (const auto& e : extra) {
            if (e.substr(0, e.find('=')) == name) {
                return true;
            }
        }
        return false;
    };
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) {
        if (!overridden(*e)) {
            out.emplace_back(*e);
        }
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

ToolResult runTool(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    ToolResult result;
    int out[2];
    if (argv.empty() || pipe2(out, O_CLOEXEC) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const auto args = pointers(argv);
    const auto environment = environmentWith(env);
    const auto envp = pointers(environment);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc == 0) {
        result.out = readAll(out[0]);
    }
    close(out[0]);
    int status = 0;
    if (rc != 0) {
        return result;
    }
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return result;
        }
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace testsupport
