#pragma once
// A backend for tests: records each command instead of running it (or, when asked,
// runs it directly as well) and answers with a chosen status.
#include <mutex>
#include <vector>

#include "platform/system/Privilege.h"

namespace platform::system {

class PrivilegeRecording final : public PrivilegeBackend {
  public:
    struct Options {
        bool runsAsRoot = false;
        bool grantAvailable = true;  // obtain() succeeds
        std::string user = {};       // obtainWithPassword() accepts only this pair
        std::string password = {};
        int passwordCheckError = 0;  // answer of passwordCheckError()
        int exitStatus = 0;          // answer of execute() when not performing
        bool perform = false;        // also run the command for real
    };

    explicit PrivilegeRecording(Options options) : options_(std::move(options)) {}
    PrivilegeRecording() : PrivilegeRecording(Options{}) {}

    bool runsAsRoot() const override { return options_.runsAsRoot; }
    std::shared_ptr<PrivilegeGrant> obtain() override;
    std::shared_ptr<PrivilegeGrant> obtainWithPassword(const std::string& user,
                                                       const std::string& password) override;
    int passwordCheckError(const std::string&) const override {
        return options_.passwordCheckError;
    }
    int execute(const PrivilegeGrant* grant, const PrivilegedCommand& command, bool wait) override;

    std::vector<PrivilegedCommand> commands() const;
    int obtainCount() const;
    void setExitStatus(int status);

  private:
    mutable std::mutex mutex_;
    Options options_;
    std::vector<PrivilegedCommand> commands_;
    int obtained_ = 0;
};

}  // namespace platform::system
