#pragma once
// Who the process runs as and who sits at the console. A process running as root
// (real user id 0) works for the console user: the user who started it through
// pkexec or sudo (PKEXEC_UID, then SUDO_UID), else the user of logind's active
// session on seat0. A greeter session counts as nobody.
#include <sys/types.h>

#include <optional>
#include <string>

namespace platform::system {

class ConsoleUser {
  public:
    struct Account {
        std::string name;
        std::string home;
        uid_t uid = 0;
    };

    // The console user, or none.
    static std::optional<Account> current();
    // The process's own account; home is $HOME when set.
    static Account processAccount();
    // Real user id 0, unless overridden.
    static bool isRoot();

    // Test hooks. `setRootOverride(std::nullopt)` returns to the real answer; the
    // logind folder (normally /run/systemd) lets tests stage seats and sessions.
    static void setRootOverride(std::optional<bool> root);
    static void setLogindDirectory(std::string directory);
};

}  // namespace platform::system
