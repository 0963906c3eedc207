#pragma once
// The backend of an ordinary user: sudo. Without a password only what sudo allows
// without asking (a cached or password-free rule) works; with one, the password is
// written to sudo's standard input ("-S") for every run and is never put on a
// command line or in the environment.
#include <string>

#include "platform/system/Privilege.h"

namespace platform::system {

class PrivilegeSudo final : public PrivilegeBackend {
  public:
    explicit PrivilegeSudo(std::string sudoPath = "/usr/bin/sudo");

    bool runsAsRoot() const override { return false; }
    std::shared_ptr<PrivilegeGrant> obtain() override;
    // sudo checks the password of the user running this process, so another user
    // name is refused.
    std::shared_ptr<PrivilegeGrant> obtainWithPassword(const std::string& user,
                                                       const std::string& password) override;
    int execute(const PrivilegeGrant* grant, const PrivilegedCommand& command, bool wait) override;

    // The command line that runs `command` (for tests and logs; holds no secret).
    PrivilegedCommand wrap(const PrivilegedCommand& command, bool withPassword) const;

  private:
    std::string sudo_;
};

}  // namespace platform::system
