#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/system/PrivilegeDirect.h"
#include "platform/system/PrivilegeRecording.h"
#include "platform/system/PrivilegeSpawn.h"
#include "platform/system/PrivilegeSudo.h"

namespace platform::system {
namespace {

class RootGrant final : public PrivilegeGrant {};
class SudoGrant final : public PrivilegeGrant {
  public:
    explicit SudoGrant(std::string password) : password_(std::move(password)) {}
    ~SudoGrant() override {
        // Do not leave the password lying in freed memory.
        volatile char* p = password_.data();
        for (size_t i = 0; i < password_.size(); ++i) {
            p[i] = 0;
        }
    }
    const std::string& password() const { return password_; }

  private:
    std::string password_;
};
class PolkitGrant final : public PrivilegeGrant {};
class RecordedGrant final : public PrivilegeGrant {};

std::string currentUserName() {
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found) {
        return found->pw_name;
    }
    return {};
}

}  // namespace

PrivilegeSession PrivilegeSession::current() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    const char* askpass = std::getenv("SUDO_ASKPASS");
    return {::getuid() == 0, set("DISPLAY") || set("WAYLAND_DISPLAY"),
            askpass != nullptr ? askpass : ""};
}

std::unique_ptr<PrivilegeBackend> makePrivilegeBackend(const PrivilegeSession& session,
                                                       const PrivilegeTools& tools) {
    if (session.root) {
        return std::make_unique<PrivilegeDirect>();
    }
    if (session.graphical && ::access(tools.pkexec.c_str(), X_OK) == 0) {
        return std::make_unique<PrivilegePolkit>(tools.pkexec, tools.sudo);
    }
    return std::make_unique<PrivilegeSudo>(tools.sudo, session.askpass);
}

std::unique_ptr<PrivilegeBackend> makeDefaultPrivilegeBackend() {
    return makePrivilegeBackend(PrivilegeSession::current());
}

// ---- direct ----

std::shared_ptr<PrivilegeGrant> PrivilegeDirect::obtain() {
    return std::make_shared<RootGrant>();
}

std::shared_ptr<PrivilegeGrant> PrivilegeDirect::obtainWithPassword(const std::string&,
                                                                    const std::string&) {
    return std::make_shared<RootGrant>();
}

int PrivilegeDirect::execute(const PrivilegeGrant*, const PrivilegedCommand& command, bool wait) {
    return privilegespawn::run(command, std::nullopt, wait);
}

// ---- sudo ----

PrivilegeSudo::PrivilegeSudo(std::string sudoPath, std::string askpass)
    : sudo_(std::move(sudoPath)), askpass_(std::move(askpass)) {}

PrivilegedCommand PrivilegeSudo::wrap(const PrivilegedCommand& command, bool withPassword) const {
    PrivilegedCommand wrapped{sudo_, {}};
    if (withPassword) {
        // -k: always ask, so the password on standard input is always consumed by
        // sudo and never reaches the tool. -p "": no prompt text.
        wrapped.arguments = {"-S", "-k", "-p", ""};
    } else if (!askpass_.empty()) {
        wrapped.arguments = {"-A"};
    } else {
        wrapped.arguments = {"-n"};
    }
    wrapped.arguments.push_back("--");
    wrapped.arguments.push_back(command.tool);
    wrapped.arguments.insert(wrapped.arguments.end(), command.arguments.begin(),
                             command.arguments.end());
    return wrapped;
}

int PrivilegeSudo::run(const PrivilegedCommand& command, const std::optional<std::string>& input,
                       bool wait) const {
    std::vector<std::string> environment;
    if (!askpass_.empty()) {
        environment.push_back("SUDO_ASKPASS=" + askpass_);
    }
    return privilegespawn::run(command, input, wait, environment);
}

int PrivilegeSudo::passwordCheckError(const std::string& user) const {
    if (::access(sudo_.c_str(), X_OK) != 0) {
        return ENOENT;
    }
    return user == currentUserName() ? 0 : EPERM;
}

std::shared_ptr<PrivilegeGrant> PrivilegeSudo::obtain() {
    if (::access(sudo_.c_str(), X_OK) != 0) {
        return nullptr;
    }
    // With an askpass program sudo asks now and remembers the answer for the runs that
    // follow; without one, only a right sudo grants without asking.
    const std::vector<std::string> validate = askpass_.empty()
                                                  ? std::vector<std::string>{"-n", "-v"}
                                                  : std::vector<std::string>{"-A", "-v"};
    if (run({sudo_, validate}, std::nullopt, true) != 0) {
        return nullptr;
    }
    return std::make_shared<SudoGrant>(std::string());
}

std::shared_ptr<PrivilegeGrant> PrivilegeSudo::obtainWithPassword(const std::string& user,
                                                                  const std::string& password) {
    if (passwordCheckError(user) != 0) {
        return nullptr;
    }
    // A rule without password: keep none, so nothing is ever fed to a tool.
    if (run({sudo_, {"-n", "-k", "--", "/bin/true"}}, std::nullopt, true) == 0) {
        return std::make_shared<SudoGrant>(std::string());
    }
    if (run({sudo_, {"-S", "-k", "-p", "", "-v"}}, password + "\n", true) != 0) {
        return nullptr;
    }
    return std::make_shared<SudoGrant>(password);
}

int PrivilegeSudo::execute(const PrivilegeGrant* grant, const PrivilegedCommand& command,
                           bool wait) {
    const auto* sudoGrant = dynamic_cast<const SudoGrant*>(grant);
    if (!sudoGrant) {
        return -1;
    }
    bool withPassword = !sudoGrant->password().empty();
    std::optional<std::string> input;
    if (withPassword) {
        input = sudoGrant->password() + "\n";
    }
    return run(wrap(command, withPassword), input, wait);
}

// ---- polkit ----

PrivilegePolkit::PrivilegePolkit(std::string pkexecPath, std::string sudoPath)
    : pkexec_(std::move(pkexecPath)), sudo_(std::move(sudoPath)) {}

PrivilegedCommand PrivilegePolkit::wrap(const PrivilegedCommand& command) const {
    // No text agent of pkexec's own: nobody reads a terminal here.
    PrivilegedCommand wrapped{pkexec_, {"--disable-internal-agent", command.tool}};
    wrapped.arguments.insert(wrapped.arguments.end(), command.arguments.begin(),
                             command.arguments.end());
    return wrapped;
}

std::shared_ptr<PrivilegeGrant> PrivilegePolkit::obtain() {
    if (::access(pkexec_.c_str(), X_OK) != 0) {
        return nullptr;
    }
    return std::make_shared<PolkitGrant>();
}

std::shared_ptr<PrivilegeGrant> PrivilegePolkit::obtainWithPassword(const std::string& user,
                                                                    const std::string& password) {
    return sudo_.obtainWithPassword(user, password);
}

int PrivilegePolkit::passwordCheckError(const std::string& user) const {
    return sudo_.passwordCheckError(user);
}

int PrivilegePolkit::execute(const PrivilegeGrant* grant, const PrivilegedCommand& command,
                             bool wait) {
    if (dynamic_cast<const PolkitGrant*>(grant) != nullptr) {
        return privilegespawn::run(wrap(command), std::nullopt, wait);
    }
    return sudo_.execute(grant, command, wait);
}

// ---- recording ----

std::shared_ptr<PrivilegeGrant> PrivilegeRecording::obtain() {
    std::lock_guard lock(mutex_);
    if (!options_.grantAvailable) {
        return nullptr;
    }
    ++obtained_;
    return std::make_shared<RecordedGrant>();
}

std::shared_ptr<PrivilegeGrant> PrivilegeRecording::obtainWithPassword(
    const std::string& user, const std::string& password) {
    std::lock_guard lock(mutex_);
    if (user != options_.user || password != options_.password) {
        return nullptr;
    }
    ++obtained_;
    return std::make_shared<RecordedGrant>();
}

int PrivilegeRecording::execute(const PrivilegeGrant*, const PrivilegedCommand& command,
                                bool wait) {
    bool perform = false;
    int status = 0;
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(command);
        perform = options_.perform;
        status = options_.exitStatus;
    }
    return perform ? privilegespawn::run(command, std::nullopt, wait) : status;
}

std::vector<PrivilegedCommand> PrivilegeRecording::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

int PrivilegeRecording::obtainCount() const {
    std::lock_guard lock(mutex_);
    return obtained_;
}

void PrivilegeRecording::setExitStatus(int status) {
    std::lock_guard lock(mutex_);
    options_.exitStatus = status;
}

}  // namespace platform::system
