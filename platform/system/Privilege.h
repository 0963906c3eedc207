#pragma once
// Running the standard file tools with administrator rights. A backend knows how:
// a process that already runs as root runs them directly; otherwise sudo, with the
// password handed over only through a pipe to its standard input; tests use a
// backend that records what would run.
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
    // Runs a tool with the right (`grant` may be null when runsAsRoot()). With `wait`
    // the answer is the tool's exit status once it has ended; without, 0 once it has
    // started. -1 when it could not be started.
    virtual int execute(const PrivilegeGrant* grant, const PrivilegedCommand& command,
                        bool wait) = 0;
};

// Root: direct; anyone else: sudo.
std::unique_ptr<PrivilegeBackend> makeDefaultPrivilegeBackend();

}  // namespace platform::system
