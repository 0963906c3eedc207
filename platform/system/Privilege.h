#pragma once
// Running the standard file tools with administrator rights. A backend knows how:
// a process that already runs as root runs them directly; an ordinary user in a
// graphical session is asked by the desktop's own dialog (polkit, through pkexec);
// elsewhere sudo asks through an askpass program, or takes a password handed in
// through a pipe to its standard input; tests use a backend that records what would
// run.
#include <memory>
#include <string>
#include <vector>

namespace platform::system {

struct PrivilegedCommand {
    std::string tool;
    std::vector<std::string> arguments;
    friend bool operator==(const PrivilegedCommand&, const PrivilegedCommand&) = default;
};

// Proof of an obtained right; what it holds is the backend's business.
class PrivilegeGrant {
  public:
    virtual ~PrivilegeGrant() = default;
};

class PrivilegeBackend {
  public:
    virtual ~PrivilegeBackend() = default;

    // True when the process already has the rights (runs as root).
    virtual bool runsAsRoot() const = 0;
    // The right a process started with privileges was handed, or none.
    virtual std::shared_ptr<PrivilegeGrant> inheritedGrant() { return nullptr; }
    // Obtains the right the interactive way; none when refused.
    virtual std::shared_ptr<PrivilegeGrant> obtain() = 0;
    virtual std::shared_ptr<PrivilegeGrant> obtainWithPassword(const std::string& user,
                                                               const std::string& password) = 0;
    // Whether a password of `user` can be checked at all: 0 when it can, otherwise an
    // errno value (ENOENT: the tool that checks it is missing; EPERM: another user).
    virtual int passwordCheckError(const std::string& /*user*/) const { return 0; }
    // Runs a tool with the right (`grant` may be null when runsAsRoot()). With `wait`
    // the answer is the tool's exit status once it has ended; without, 0 once it has
    // started. -1 when it could not be started.
    virtual int execute(const PrivilegeGrant* grant, const PrivilegedCommand& command,
                        bool wait) = 0;
};

// What decides how a right is obtained.
struct PrivilegeSession {
    bool root = false;         // the real user id is 0
    bool graphical = false;    // DISPLAY or WAYLAND_DISPLAY is set
    std::string askpass = {};  // SUDO_ASKPASS, or ""
    static PrivilegeSession current();
};

struct PrivilegeTools {
    std::string pkexec = "/usr/bin/pkexec";
    std::string sudo = "/usr/bin/sudo";
};

// Root: direct. A graphical session with pkexec: polkit. Otherwise sudo, asking
// through the askpass program when there is one.
std::unique_ptr<PrivilegeBackend> makePrivilegeBackend(const PrivilegeSession& session,
                                                       const PrivilegeTools& tools = {});
// The backend of this process's own session.
std::unique_ptr<PrivilegeBackend> makeDefaultPrivilegeBackend();

}  // namespace platform::system
