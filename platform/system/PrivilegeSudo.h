#pragma once
// The backend of an ordinary user outside a graphical session: sudo. With an askpass
// program sudo asks through it ("-A") and remembers the answer for its usual few
// minutes; without one only what sudo allows without asking (a cached or
// password-free rule) works. A password handed in is written to sudo's standard
// input ("-S") for every run and is never put on a command line or in the
// environment.
#include <string>

#include "platform/system/Privilege.h"

namespace platform::system {

class PrivilegeSudo final : public PrivilegeBackend {
  public:
    explicit PrivilegeSudo(std::string sudoPath = "/usr/bin/sudo", std::string askpass = {});

    bool runsAsRoot() const override { return false; }
    std::shared_ptr<PrivilegeGrant> obtain() override;
    // sudo checks the password of the user running this process, so another user
    // name is refused.
    std::shared_ptr<PrivilegeGrant> obtainWithPassword(const std::string& user,
                                                       const std::string& password) override;
    int passwordCheckError(const std::string& user) const override;
    int execute(const PrivilegeGrant* grant, const PrivilegedCommand& command, bool wait) override;

    // The command line that runs `command` (for tests and logs; holds no secret).
    PrivilegedCommand wrap(const PrivilegedCommand& command, bool withPassword) const;
    const std::string& askpass() const { return askpass_; }

  private:
    int run(const PrivilegedCommand& command, const std::optional<std::string>& input,
            bool wait) const;

    std::string sudo_;
    std::string askpass_;
};

// The backend of an ordinary user in a graphical session: every tool runs through
// pkexec, which has polkit put up the desktop's password dialog. The suite's polkit
// actions (polkit/com.oxburyworks.quorvane.policy) name the standard tools and keep an
// answer for a few minutes; any other tool falls under pkexec's own action. A
// password handed in cannot go to that dialog, so sudo checks it and runs the tools
// (see PrivilegeSudo).
class PrivilegePolkit final : public PrivilegeBackend {
  public:
    explicit PrivilegePolkit(std::string pkexecPath = "/usr/bin/pkexec",
                             std::string sudoPath = "/usr/bin/sudo");

    bool runsAsRoot() const override { return false; }
    // A right to ask with: the dialog comes with each run, so a dismissed dialog fails
    // that run only (pkexec answers 126).
    std::shared_ptr<PrivilegeGrant> obtain() override;
    std::shared_ptr<PrivilegeGrant> obtainWithPassword(const std::string& user,
                                                       const std::string& password) override;
    int passwordCheckError(const std::string& user) const override;
    int execute(const PrivilegeGrant* grant, const PrivilegedCommand& command, bool wait) override;

    PrivilegedCommand wrap(const PrivilegedCommand& command) const;

  private:
    std::string pkexec_;
    PrivilegeSudo sudo_;
};

}  // namespace platform::system
